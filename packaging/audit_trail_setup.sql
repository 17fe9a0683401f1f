-- The plant database's audit trail: its tables, their indexes, the triggers
-- that refuse UPDATE, DELETE and TRUNCATE, the functions that make the trail
-- table's monthly partitions (this month's and the next two now; the
-- shipper calls audit_trail_months as it ships, so that they are always
-- made ahead), and the grants of the plant's roles. PostgreSQL 13 or later.
-- Run it once, on the empty database, as the administrative role that is to
-- own the tables (never as the shipper's role), with psql:
--
--   psql -h HOST -U qz45_admin -d qz45_audit -f audit_trail_setup.sql
--   psql ... -v shipper=ROLE -v auditor=ROLE -v reviewer=ROLE -f audit_trail_setup.sql
--
-- The roles, qz45_shipper, qz45_auditor and qz45_reviewer unless named:
--   shipper   SELECT and INSERT on the trail and its shipment log, SELECT on
--             the record of archives, and audit_trail_months, nothing else
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

CREATE OR REPLACE FUNCTION audit_trail_keep() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION '% on % refused: the audit trail keeps every row it got', TG_OP, TG_TABLE_NAME USING ERRCODE = 'insufficient_privilege'; END $$;
CREATE TABLE audit_trail (machine text NOT NULL, line_no BIGINT NOT NULL, submitted timestamp(3), user_name text, domain_name text, category INTEGER, descriptor text, property text, message text, event_time timestamp(3), line_text text NOT NULL, replaced INTEGER NOT NULL, shipped_at timestamp(3) NOT NULL DEFAULT (clock_timestamp() AT TIME ZONE 'UTC')) PARTITION BY RANGE (shipped_at);
CREATE INDEX audit_trail_time ON audit_trail (event_time);
CREATE INDEX audit_trail_history ON audit_trail (descriptor, property);
CREATE INDEX audit_trail_exceptions ON audit_trail (category) WHERE category NOT IN (301, 401) OR property = 'ACL';
CREATE INDEX audit_trail_user ON audit_trail (user_name);
-- "Message contains" by trigrams, where the server has PostgreSQL's pg_trgm
-- (contrib); without it the review page reads every row for it.
SELECT EXISTS (SELECT 1 FROM pg_available_extensions WHERE name = 'pg_trgm') AS trgm_available \gset
\if :trgm_available
CREATE EXTENSION IF NOT EXISTS pg_trgm;
CREATE INDEX audit_trail_message ON audit_trail USING gin (lower(message) gin_trgm_ops) WITH (fastupdate = off);
\else
\echo 'no pg_trgm on this server: "message contains" on the review page reads every row'
\endif
CREATE TABLE audit_trail_shipments (machine text NOT NULL, first_line BIGINT NOT NULL, last_line BIGINT NOT NULL, last_sha256 text NOT NULL, shipped_at timestamp(3) NOT NULL DEFAULT (now() AT TIME ZONE 'UTC'), PRIMARY KEY (machine, last_line));
CREATE TABLE audit_reviews (review_id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY, reviewed_at timestamp(3) NOT NULL, db_user text NOT NULL, windows_user text NOT NULL, period_from timestamp(3), period_until timestamp(3), machines text NOT NULL, remark text NOT NULL, positions jsonb NOT NULL, meaning text);
CREATE OR REPLACE FUNCTION audit_reviews_stamp() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN NEW.db_user := session_user; NEW.reviewed_at := now() AT TIME ZONE 'UTC'; RETURN NEW; END $$;
CREATE TRIGGER audit_reviews_stamp BEFORE INSERT ON audit_reviews FOR EACH ROW EXECUTE FUNCTION audit_reviews_stamp();
CREATE TABLE audit_trail_archives (archive_id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY, month date NOT NULL, action text NOT NULL, archived_at timestamp(3) NOT NULL, db_user text NOT NULL, windows_user text NOT NULL, folder text NOT NULL, manifest text NOT NULL, manifest_sha256 text NOT NULL, machines jsonb NOT NULL);
CREATE OR REPLACE FUNCTION audit_trail_archives_stamp() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN NEW.db_user := session_user; NEW.archived_at := now() AT TIME ZONE 'UTC'; RETURN NEW; END $$;
CREATE TRIGGER audit_trail_archives_stamp BEFORE INSERT ON audit_trail_archives FOR EACH ROW EXECUTE FUNCTION audit_trail_archives_stamp();
CREATE TRIGGER audit_trail_keep_rows BEFORE UPDATE OR DELETE ON audit_trail FOR EACH ROW EXECUTE FUNCTION audit_trail_keep();
CREATE TRIGGER audit_trail_keep_all BEFORE TRUNCATE ON audit_trail FOR EACH STATEMENT EXECUTE FUNCTION audit_trail_keep();
CREATE TRIGGER audit_trail_shipments_keep_rows BEFORE UPDATE OR DELETE ON audit_trail_shipments FOR EACH ROW EXECUTE FUNCTION audit_trail_keep();
CREATE TRIGGER audit_trail_shipments_keep_all BEFORE TRUNCATE ON audit_trail_shipments FOR EACH STATEMENT EXECUTE FUNCTION audit_trail_keep();
CREATE TRIGGER audit_reviews_keep_rows BEFORE UPDATE OR DELETE ON audit_reviews FOR EACH ROW EXECUTE FUNCTION audit_trail_keep();
CREATE TRIGGER audit_reviews_keep_all BEFORE TRUNCATE ON audit_reviews FOR EACH STATEMENT EXECUTE FUNCTION audit_trail_keep();
CREATE TRIGGER audit_trail_archives_keep_rows BEFORE UPDATE OR DELETE ON audit_trail_archives FOR EACH ROW EXECUTE FUNCTION audit_trail_keep();
CREATE TRIGGER audit_trail_archives_keep_all BEFORE TRUNCATE ON audit_trail_archives FOR EACH STATEMENT EXECUTE FUNCTION audit_trail_keep();
CREATE OR REPLACE FUNCTION audit_trail_month(month date) RETURNS boolean LANGUAGE plpgsql SECURITY DEFINER SET search_path FROM CURRENT AS $$ DECLARE part text := 'audit_trail_' || to_char(month, 'YYYY_MM'); BEGIN PERFORM pg_advisory_xact_lock(hashtext('audit_trail_month')); IF to_regclass(part) IS NOT NULL THEN RETURN false; END IF; EXECUTE format('CREATE TABLE %I PARTITION OF audit_trail FOR VALUES FROM (%L) TO (%L)', part, date_trunc('month', month::timestamp), date_trunc('month', month::timestamp) + interval '1 month'); EXECUTE format('ALTER TABLE %I ADD CONSTRAINT %I UNIQUE (machine, line_no)', part, part || '_line'); EXECUTE format('CREATE TRIGGER %I BEFORE TRUNCATE ON %I FOR EACH STATEMENT EXECUTE FUNCTION audit_trail_keep()', part || '_keep_all', part); RETURN true; END $$;
CREATE OR REPLACE FUNCTION audit_trail_months(ahead integer DEFAULT 2) RETURNS integer LANGUAGE sql SECURITY DEFINER SET search_path FROM CURRENT AS $$ SELECT count(*)::integer FROM generate_series(0, greatest(ahead, 0)) n WHERE audit_trail_month((date_trunc('month', now() AT TIME ZONE 'UTC') + n * interval '1 month')::date) $$;
REVOKE ALL ON FUNCTION audit_trail_month(date), audit_trail_months(integer) FROM PUBLIC;
SELECT audit_trail_months() AS months_made \gset
REVOKE ALL ON audit_trail, audit_trail_shipments, audit_reviews, audit_trail_archives FROM PUBLIC;
GRANT SELECT, INSERT ON audit_trail, audit_trail_shipments TO :"shipper";
GRANT EXECUTE ON FUNCTION audit_trail_months(integer) TO :"shipper";
GRANT SELECT ON audit_trail_archives TO :"shipper";
GRANT SELECT ON audit_trail, audit_trail_shipments, audit_reviews, audit_trail_archives TO :"auditor";

SELECT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = :'reviewer') AS reviewer_exists \gset
\if :reviewer_exists
GRANT SELECT ON audit_trail, audit_trail_shipments, audit_reviews, audit_trail_archives TO :"reviewer";
GRANT INSERT ON audit_reviews TO :"reviewer";
\else
\echo 'no role' :"reviewer" 'yet: the review page''s role was granted nothing'
\endif

COMMIT;
