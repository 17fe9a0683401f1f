-- Upgrades a plant database of an earlier release, whose audit_trail is one
-- table with every column of a line (the line twice: as text and as jsonb),
-- to this release's: partitioned by the month in which each row went in,
-- keeping each line's text once and the columns that readers look for lines
-- by. Run it once, as the administrative role that owns the tables, with
-- psql, while no shipper ships (stop their scheduled task):
--
--   psql -h HOST -U qz45_admin -d qz45_audit -f audit_trail_upgrade.sql
--   psql ... -v shipper=ROLE -v auditor=ROLE -v reviewer=ROLE -f audit_trail_upgrade.sql
--
-- The roles as in audit_trail_setup.sql. Every row is copied; the month of
-- a row is the month its shipment was logged in (the shipment log keeps
-- that), or its line's submission when no log entry covers it. The earlier
-- table stays, renamed audit_trail_earlier, its rows as they were, until
-- the administrator drops it, once `qz45trail verify --odbc` has called
-- every chain intact:
--
--   DROP TABLE audit_trail_earlier;
--
-- It all happens in one transaction: a failure leaves the database as it
-- was. A database already upgraded is left as it is.
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

SELECT EXISTS (SELECT 1 FROM pg_class WHERE oid = to_regclass('audit_trail') AND relkind = 'r')
    AS earlier \gset
\if :earlier
\else
\echo 'audit_trail is not a table of an earlier release (upgraded already, or not there): nothing to do'
\quit
\endif

BEGIN;
-- No row goes in while the rows are copied.
LOCK TABLE audit_trail, audit_trail_shipments IN EXCLUSIVE MODE;

-- The earlier table, and its indexes, out of the way of the new names.
ALTER TABLE audit_trail RENAME TO audit_trail_earlier;
DO $$ DECLARE i record; BEGIN
    FOR i IN SELECT indexrelid::regclass::text AS name FROM pg_index
             WHERE indrelid = 'audit_trail_earlier'::regclass LOOP
        EXECUTE format('ALTER INDEX %I RENAME TO %I', i.name,
                       replace(i.name, 'audit_trail', 'audit_trail_earlier'));
    END LOOP;
END $$;
REVOKE ALL ON audit_trail_earlier FROM PUBLIC, :"shipper";

-- This release's trail table, as audit_trail_setup.sql makes it.
CREATE OR REPLACE FUNCTION audit_trail_keep() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION '% on % refused: the audit trail keeps every row it got', TG_OP, TG_TABLE_NAME USING ERRCODE = 'insufficient_privilege'; END $$;
CREATE TABLE audit_trail (machine text NOT NULL, line_no BIGINT NOT NULL, submitted timestamp(3), user_name text, domain_name text, category INTEGER, descriptor text, property text, message text, event_time timestamp(3), line_text text NOT NULL, replaced INTEGER NOT NULL, shipped_at timestamp(3) NOT NULL DEFAULT (clock_timestamp() AT TIME ZONE 'UTC')) PARTITION BY RANGE (shipped_at);
CREATE INDEX audit_trail_time ON audit_trail (event_time);
CREATE INDEX audit_trail_history ON audit_trail (descriptor, property);
CREATE INDEX audit_trail_exceptions ON audit_trail (category) WHERE category NOT IN (301, 401) OR property = 'ACL';
CREATE INDEX audit_trail_user ON audit_trail (user_name);
SELECT EXISTS (SELECT 1 FROM pg_available_extensions WHERE name = 'pg_trgm') AS trgm_available \gset
\if :trgm_available
CREATE EXTENSION IF NOT EXISTS pg_trgm;
CREATE INDEX audit_trail_message ON audit_trail USING gin (lower(message) gin_trgm_ops) WITH (fastupdate = off);
\endif
CREATE TRIGGER audit_trail_keep_rows BEFORE UPDATE OR DELETE ON audit_trail FOR EACH ROW EXECUTE FUNCTION audit_trail_keep();
CREATE TRIGGER audit_trail_keep_all BEFORE TRUNCATE ON audit_trail FOR EACH STATEMENT EXECUTE FUNCTION audit_trail_keep();
CREATE OR REPLACE FUNCTION audit_trail_month(month date) RETURNS boolean LANGUAGE plpgsql SECURITY DEFINER SET search_path FROM CURRENT AS $$ DECLARE part text := 'audit_trail_' || to_char(month, 'YYYY_MM'); BEGIN PERFORM pg_advisory_xact_lock(hashtext('audit_trail_month')); IF to_regclass(part) IS NOT NULL THEN RETURN false; END IF; EXECUTE format('CREATE TABLE %I PARTITION OF audit_trail FOR VALUES FROM (%L) TO (%L)', part, date_trunc('month', month::timestamp), date_trunc('month', month::timestamp) + interval '1 month'); EXECUTE format('ALTER TABLE %I ADD CONSTRAINT %I UNIQUE (machine, line_no)', part, part || '_line'); EXECUTE format('CREATE TRIGGER %I BEFORE TRUNCATE ON %I FOR EACH STATEMENT EXECUTE FUNCTION audit_trail_keep()', part || '_keep_all', part); RETURN true; END $$;
CREATE OR REPLACE FUNCTION audit_trail_months(ahead integer DEFAULT 2) RETURNS integer LANGUAGE sql SECURITY DEFINER SET search_path FROM CURRENT AS $$ SELECT count(*)::integer FROM generate_series(0, greatest(ahead, 0)) n WHERE audit_trail_month((date_trunc('month', now() AT TIME ZONE 'UTC') + n * interval '1 month')::date) $$;
REVOKE ALL ON FUNCTION audit_trail_month(date), audit_trail_months(integer) FROM PUBLIC;

-- The reviews, where the earlier release had none, and what they record.
CREATE TABLE IF NOT EXISTS audit_reviews (review_id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY, reviewed_at timestamp(3) NOT NULL, db_user text NOT NULL, windows_user text NOT NULL, period_from timestamp(3), period_until timestamp(3), machines text NOT NULL, remark text NOT NULL, positions jsonb NOT NULL, meaning text);
ALTER TABLE audit_reviews ADD COLUMN IF NOT EXISTS meaning text;
CREATE OR REPLACE FUNCTION audit_reviews_stamp() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN NEW.db_user := session_user; NEW.reviewed_at := now() AT TIME ZONE 'UTC'; RETURN NEW; END $$;
DROP TRIGGER IF EXISTS audit_reviews_stamp ON audit_reviews;
DROP TRIGGER IF EXISTS audit_reviews_keep_rows ON audit_reviews;
DROP TRIGGER IF EXISTS audit_reviews_keep_all ON audit_reviews;
CREATE TRIGGER audit_reviews_stamp BEFORE INSERT ON audit_reviews FOR EACH ROW EXECUTE FUNCTION audit_reviews_stamp();
CREATE TRIGGER audit_reviews_keep_rows BEFORE UPDATE OR DELETE ON audit_reviews FOR EACH ROW EXECUTE FUNCTION audit_trail_keep();
CREATE TRIGGER audit_reviews_keep_all BEFORE TRUNCATE ON audit_reviews FOR EACH STATEMENT EXECUTE FUNCTION audit_trail_keep();

-- The record of months archived.
CREATE TABLE IF NOT EXISTS audit_trail_archives (archive_id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY, month date NOT NULL, action text NOT NULL, archived_at timestamp(3) NOT NULL, db_user text NOT NULL, windows_user text NOT NULL, folder text NOT NULL, manifest text NOT NULL, manifest_sha256 text NOT NULL, machines jsonb NOT NULL);
CREATE OR REPLACE FUNCTION audit_trail_archives_stamp() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN NEW.db_user := session_user; NEW.archived_at := now() AT TIME ZONE 'UTC'; RETURN NEW; END $$;
DROP TRIGGER IF EXISTS audit_trail_archives_stamp ON audit_trail_archives;
DROP TRIGGER IF EXISTS audit_trail_archives_keep_rows ON audit_trail_archives;
DROP TRIGGER IF EXISTS audit_trail_archives_keep_all ON audit_trail_archives;
CREATE TRIGGER audit_trail_archives_stamp BEFORE INSERT ON audit_trail_archives FOR EACH ROW EXECUTE FUNCTION audit_trail_archives_stamp();
CREATE TRIGGER audit_trail_archives_keep_rows BEFORE UPDATE OR DELETE ON audit_trail_archives FOR EACH ROW EXECUTE FUNCTION audit_trail_keep();
CREATE TRIGGER audit_trail_archives_keep_all BEFORE TRUNCATE ON audit_trail_archives FOR EACH STATEMENT EXECUTE FUNCTION audit_trail_keep();

-- Each row with the time it went in, the months made, the rows copied in
-- the order of their lines.
CREATE TEMP VIEW upgrade_rows AS
    SELECT t.*, coalesce((SELECT min(s.shipped_at) FROM audit_trail_shipments s
                          WHERE s.machine = t.machine AND s.last_line >= t.line_no),
                         t.submitted, now() AT TIME ZONE 'UTC') AS went_in
    FROM audit_trail_earlier t;
SELECT count(*) AS months_made FROM (SELECT DISTINCT date_trunc('month', went_in)::date AS m
    FROM upgrade_rows) months WHERE audit_trail_month(m) \gset
SELECT audit_trail_months() AS months_ahead \gset
INSERT INTO audit_trail (machine, line_no, submitted, user_name, domain_name, category, descriptor,
        property, message, event_time, line_text, replaced, shipped_at)
    SELECT machine, line_no, submitted, user_name, domain_name, category, descriptor, property,
        message, event_time, line_text, replaced, went_in
    FROM upgrade_rows ORDER BY machine, line_no;
DO $$ DECLARE earlier bigint; copied bigint; BEGIN
    SELECT count(*) INTO earlier FROM audit_trail_earlier;
    SELECT count(*) INTO copied FROM audit_trail t JOIN audit_trail_earlier e
        ON e.machine = t.machine AND e.line_no = t.line_no AND e.line_text = t.line_text;
    IF copied <> earlier THEN
        RAISE EXCEPTION 'the upgrade copied % of % rows: nothing changed', copied, earlier;
    END IF;
    RAISE NOTICE 'audit_trail upgraded: % rows copied; the earlier table is audit_trail_earlier', copied;
END $$;

REVOKE ALL ON audit_trail, audit_trail_shipments, audit_reviews, audit_trail_archives FROM PUBLIC;
GRANT SELECT, INSERT ON audit_trail, audit_trail_shipments TO :"shipper";
GRANT EXECUTE ON FUNCTION audit_trail_months(integer) TO :"shipper";
GRANT SELECT ON audit_trail_archives TO :"shipper";
GRANT SELECT ON audit_trail, audit_trail_shipments, audit_reviews, audit_trail_archives TO :"auditor";
SELECT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = :'reviewer') AS reviewer_exists \gset
\if :reviewer_exists
GRANT SELECT ON audit_trail, audit_trail_shipments, audit_reviews, audit_trail_archives TO :"reviewer";
GRANT INSERT ON audit_reviews TO :"reviewer";
\endif

COMMIT;
