-- The plant database as the earlier release made it (qz45trail schema
-- --shipper qz45_shipper --auditor qz45_auditor): no line_no index, no
-- reviews table. trail.jsonl beside it is a trail that release's service wrote.
CREATE TABLE audit_trail (machine text NOT NULL, line_no BIGINT NOT NULL, submitted timestamp(3), event_class text NOT NULL, app_name text, user_name text, domain_name text, application_id text, category INTEGER, descriptor text, property text, message text, event_time timestamp(3), old_type text, old_value text, new_type text, new_value text, prev_hash text, line_hash text, line_sha256 text NOT NULL, line_text text NOT NULL, line_json jsonb NOT NULL, replaced INTEGER NOT NULL, PRIMARY KEY (machine, line_no));
CREATE INDEX audit_trail_time ON audit_trail (event_time);
CREATE INDEX audit_trail_user ON audit_trail (user_name, event_time);
CREATE INDEX audit_trail_descriptor ON audit_trail (descriptor, event_time);
CREATE INDEX audit_trail_category ON audit_trail (category, event_time);
CREATE TABLE audit_trail_shipments (machine text NOT NULL, first_line BIGINT NOT NULL, last_line BIGINT NOT NULL, last_sha256 text NOT NULL, shipped_at timestamp(3) NOT NULL DEFAULT (now() AT TIME ZONE 'UTC'), PRIMARY KEY (machine, last_line));
CREATE OR REPLACE FUNCTION audit_trail_keep() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION '% on % refused: the audit trail keeps every row it got', TG_OP, TG_TABLE_NAME USING ERRCODE = 'insufficient_privilege'; END $$;
CREATE TRIGGER audit_trail_keep_rows BEFORE UPDATE OR DELETE ON audit_trail FOR EACH ROW EXECUTE FUNCTION audit_trail_keep();
CREATE TRIGGER audit_trail_keep_all BEFORE TRUNCATE ON audit_trail FOR EACH STATEMENT EXECUTE FUNCTION audit_trail_keep();
CREATE TRIGGER audit_trail_shipments_keep_rows BEFORE UPDATE OR DELETE ON audit_trail_shipments FOR EACH ROW EXECUTE FUNCTION audit_trail_keep();
CREATE TRIGGER audit_trail_shipments_keep_all BEFORE TRUNCATE ON audit_trail_shipments FOR EACH STATEMENT EXECUTE FUNCTION audit_trail_keep();
REVOKE ALL ON audit_trail, audit_trail_shipments FROM PUBLIC;
GRANT SELECT, INSERT ON audit_trail, audit_trail_shipments TO "qz45_shipper";
GRANT SELECT ON audit_trail, audit_trail_shipments TO "qz45_auditor";
