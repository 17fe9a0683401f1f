-- The plant database's audit trail: its tables, their indexes, the triggers
-- that refuse UPDATE, DELETE and TRUNCATE, and the grants of the plant's
-- roles. Run it once, on the empty database, as the administrative role that
-- is to own the tables (never as the shipper's role), with psql:
--
--   psql -h HOST -U qz45_admin -d qz45_audit -f audit_trail_setup.sql
--   psql ... -v shipper=ROLE -v auditor=ROLE -v reviewer=ROLE -f audit_trail_setup.sql
--
-- The roles, qz45_shipper, qz45_auditor and qz45_reviewer unless named:
--   shipper   SELECT and INSERT on the trail and its shipment log, nothing else
--   auditor   SELECT on every table
--   reviewer  SELECT on every table and INSERT on the reviews; granted only
--             when the role exists
-- The shipper's and the auditor's roles must exist. It all happens in one
-- transaction: a failure leaves the database as it was.
--
-- The statements are those of `qz45trail schema --shipper ROLE --auditor ROLE
-- --reviewer ROLE`; the ODBC tests check that they stay the same.
\set ON_ERROR_STOP on
\if :{?shipper}
\else
\set shipper qz45_shipper
\endif
\if :{?auditor}
\else
\set auditor qz45_auditor
\endif
\if :{?reviewer}
\else
\set reviewer qz45_reviewer
\endif

BEGIN;

-- Tables owned by a role that ships could lose their triggers to it.
SET LOCAL qz45.shipper = :'shipper';
SET LOCAL qz45.auditor = :'auditor';
SET LOCAL qz45.reviewer = :'reviewer';
DO $$ BEGIN
    IF current_user IN (current_setting('qz45.shipper'), current_setting('qz45.auditor'),
                        current_setting('qz45.reviewer')) THEN
        RAISE EXCEPTION 'run audit_trail_setup.sql as the administrative role that is to own the tables, not as %', current_user;
    END IF;
END $$;

CREATE TABLE audit_trail (machine text NOT NULL, line_no BIGINT NOT NULL, submitted timestamp(3), event_class text NOT NULL, app_name text, user_name text, domain_name text, application_id text, category INTEGER, descriptor text, property text, message text, event_time timestamp(3), old_type text, old_value text, new_type text, new_value text, prev_hash text, line_hash text, line_sha256 text NOT NULL, line_text text NOT NULL, line_json jsonb NOT NULL, replaced INTEGER NOT NULL, PRIMARY KEY (machine, line_no));
CREATE INDEX audit_trail_time ON audit_trail (event_time);
CREATE INDEX audit_trail_user ON audit_trail (user_name, event_time);
CREATE INDEX audit_trail_descriptor ON audit_trail (descriptor, event_time);
CREATE INDEX audit_trail_history ON audit_trail (descriptor, property, event_time);
CREATE INDEX audit_trail_category ON audit_trail (category, event_time);
CREATE INDEX audit_trail_position ON audit_trail (line_no);
CREATE TABLE audit_trail_shipments (machine text NOT NULL, first_line BIGINT NOT NULL, last_line BIGINT NOT NULL, last_sha256 text NOT NULL, shipped_at timestamp(3) NOT NULL DEFAULT (now() AT TIME ZONE 'UTC'), PRIMARY KEY (machine, last_line));
CREATE TABLE audit_reviews (review_id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY, reviewed_at timestamp(3) NOT NULL, db_user text NOT NULL, windows_user text NOT NULL, period_from timestamp(3), period_until timestamp(3), machines text NOT NULL, remark text NOT NULL, positions jsonb NOT NULL);
CREATE OR REPLACE FUNCTION audit_trail_keep() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION '% on % refused: the audit trail keeps every row it got', TG_OP, TG_TABLE_NAME USING ERRCODE = 'insufficient_privilege'; END $$;
CREATE OR REPLACE FUNCTION audit_reviews_stamp() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN NEW.db_user := session_user; NEW.reviewed_at := now() AT TIME ZONE 'UTC'; RETURN NEW; END $$;
CREATE TRIGGER audit_reviews_stamp BEFORE INSERT ON audit_reviews FOR EACH ROW EXECUTE FUNCTION audit_reviews_stamp();
CREATE TRIGGER audit_trail_keep_rows BEFORE UPDATE OR DELETE ON audit_trail FOR EACH ROW EXECUTE FUNCTION audit_trail_keep();
CREATE TRIGGER audit_trail_keep_all BEFORE TRUNCATE ON audit_trail FOR EACH STATEMENT EXECUTE FUNCTION audit_trail_keep();
CREATE TRIGGER audit_trail_shipments_keep_rows BEFORE UPDATE OR DELETE ON audit_trail_shipments FOR EACH ROW EXECUTE FUNCTION audit_trail_keep();
CREATE TRIGGER audit_trail_shipments_keep_all BEFORE TRUNCATE ON audit_trail_shipments FOR EACH STATEMENT EXECUTE FUNCTION audit_trail_keep();
CREATE TRIGGER audit_reviews_keep_rows BEFORE UPDATE OR DELETE ON audit_reviews FOR EACH ROW EXECUTE FUNCTION audit_trail_keep();
CREATE TRIGGER audit_reviews_keep_all BEFORE TRUNCATE ON audit_reviews FOR EACH STATEMENT EXECUTE FUNCTION audit_trail_keep();
REVOKE ALL ON audit_trail, audit_trail_shipments, audit_reviews FROM PUBLIC;
GRANT SELECT, INSERT ON audit_trail, audit_trail_shipments TO :"shipper";
GRANT SELECT ON audit_trail, audit_trail_shipments, audit_reviews TO :"auditor";

SELECT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = :'reviewer') AS reviewer_exists \gset
\if :reviewer_exists
GRANT SELECT ON audit_trail, audit_trail_shipments, audit_reviews TO :"reviewer";
GRANT INSERT ON audit_reviews TO :"reviewer";
\else
\echo 'no role' :"reviewer" 'yet: the review page''s role was granted nothing'
\endif

COMMIT;
