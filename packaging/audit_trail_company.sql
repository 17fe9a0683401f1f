-- One company database for the audit trails of several plants, fed by
-- PostgreSQL's logical replication (PostgreSQL 13 or later on every side):
-- each plant's database publishes its trail and shipment log, inserts only,
-- and the company's database subscribes to each plant. At the company every
-- machine is named by its plant and its name ("north/srv-1"); the lines
-- themselves arrive unchanged, so their chains are checked there as at the
-- plant. Rows go in nowhere else: the company store takes no other insert.
--
-- Each side runs this file with psql as a superuser (only a superuser may
-- make a role that replicates, or a subscription):
--
-- At each plant, on its database (made by audit_trail_setup.sql):
--   psql -h PLANT -U postgres -d qz45_audit -v side=plant -v company_password=SECRET -f audit_trail_company.sql
-- It makes the role the company connects as (qz45_company, or -v company=ROLE:
-- LOGIN REPLICATION, SELECT on the trail and the shipment log, nothing else),
-- the publication audit_trail_company, and sets wal_level = logical where it
-- is not yet (the server must then be restarted once).
--
-- At the company, on a database made by audit_trail_setup.sql, once:
--   psql -h COMPANY -U postgres -d qz45_company -v side=company -f audit_trail_company.sql
-- and then once for each plant:
--   psql ... -v side=company -v plant=north -v since=2025-01-01 \
--       -v conninfo='host=PLANT dbname=qz45_audit user=qz45_company password=SECRET' -f audit_trail_company.sql
-- which makes the company's months from the plant's first month (since) on
-- and subscribes to the plant as audit_trail_from_<plant>: the plant's rows
-- so far are copied, and every row shipped there from then on follows.
-- A plant's name is letters, digits, '-' and '_'.
--
-- What a plant archives stays at the company (a month taken out of a plant's
-- table is not a row deleted), until the company archives the month itself.
\set ON_ERROR_STOP on
\if :{?side}
\else
\echo 'say which side this is: -v side=plant or -v side=company'
\quit
\endif
\if :{?company}
\else
\set company qz45_company
\endif
SELECT :'side' = 'plant' AS plant_side, :'side' = 'company' AS company_side \gset
\if :plant_side
\if :{?company_password}
\else
\echo 'the plant side needs the password the company connects with: -v company_password=...'
\quit
\endif

BEGIN;
SELECT NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = :'company') AS make_role \gset
\if :make_role
CREATE ROLE :"company" LOGIN REPLICATION PASSWORD :'company_password';
\else
ALTER ROLE :"company" LOGIN REPLICATION PASSWORD :'company_password';
\endif
GRANT SELECT ON audit_trail, audit_trail_shipments TO :"company";
SELECT NOT EXISTS (SELECT 1 FROM pg_publication WHERE pubname = 'audit_trail_company') AS make_publication \gset
\if :make_publication
-- Inserts only: a month a plant archives (detaches) or drops is not
-- deleted at the company. Rows are published as the trail table's, whatever
-- month's partition they went in. (The server's warning that wal_level is
-- not yet logical is said below, once, with what to do.)
SET LOCAL client_min_messages = error;
CREATE PUBLICATION audit_trail_company FOR TABLE audit_trail, audit_trail_shipments
    WITH (publish = 'insert', publish_via_partition_root = true);
\endif
COMMIT;

SELECT current_setting('wal_level') <> 'logical' AS set_wal_level \gset
\if :set_wal_level
ALTER SYSTEM SET wal_level = logical;
\echo 'wal_level is now logical from the next start: restart this server before the company subscribes'
\endif
\echo 'plant side ready: publication audit_trail_company, role' :"company"
\quit
\endif

\if :company_side
\else
\echo 'side is plant or company, not' :'side'
\quit
\endif

-- The company's side. The trigger names each row's machine, on the trail
-- and on the shipment log, by the plant whose subscription brings it in:
-- its worker is the one process that may insert. It fires in the
-- subscriptions' workers (ENABLE ALWAYS), where other triggers do not.
BEGIN;
CREATE OR REPLACE FUNCTION audit_trail_from_plant() RETURNS trigger LANGUAGE plpgsql AS $$
DECLARE plant text;
BEGIN
    SELECT substr(subname, length('audit_trail_from_') + 1) INTO plant FROM pg_stat_subscription
        WHERE pid = pg_backend_pid() AND subname LIKE 'audit\_trail\_from\_%' LIMIT 1;
    IF plant IS NULL THEN
        RAISE EXCEPTION 'rows reach the company store from its plants'' subscriptions only'
            USING ERRCODE = 'insufficient_privilege';
    END IF;
    NEW.machine := plant || '/' || NEW.machine;
    RETURN NEW;
END $$;
SELECT NOT EXISTS (SELECT 1 FROM pg_trigger WHERE tgname = 'audit_trail_from_plant'
                   AND tgrelid = 'audit_trail'::regclass) AS make_triggers \gset
\if :make_triggers
CREATE TRIGGER audit_trail_from_plant BEFORE INSERT ON audit_trail FOR EACH ROW EXECUTE FUNCTION audit_trail_from_plant();
ALTER TABLE audit_trail ENABLE ALWAYS TRIGGER audit_trail_from_plant;
CREATE TRIGGER audit_trail_from_plant BEFORE INSERT ON audit_trail_shipments FOR EACH ROW EXECUTE FUNCTION audit_trail_from_plant();
ALTER TABLE audit_trail_shipments ENABLE ALWAYS TRIGGER audit_trail_from_plant;
\endif
COMMIT;

\if :{?plant}
\else
\echo 'company side ready; subscribe to each plant with -v plant=NAME -v since=YYYY-MM-DD -v conninfo=...'
\quit
\endif
SELECT :'plant' ~ '^[A-Za-z0-9_-]+$' AS plant_named \gset
\if :plant_named
\else
\echo 'a plant''s name is letters, digits, ''-'' and ''_'', not' :'plant'
\quit
\endif
\if :{?since}
\else
\echo 'say from which month the plant''s trail begins: -v since=YYYY-MM-DD'
\quit
\endif
\if :{?conninfo}
\else
\echo 'say how the company reaches the plant: -v conninfo=''host=... dbname=... user=qz45_company password=...'''
\quit
\endif

-- The months the plant's rows go in, from its first on, and the next two.
SELECT count(*) AS months_made FROM generate_series(date_trunc('month', :'since'::date),
    date_trunc('month', now() AT TIME ZONE 'UTC') + interval '2 months', interval '1 month') m
    WHERE audit_trail_month(m::date) \gset
SELECT 'audit_trail_from_' || :'plant' AS subscription \gset
CREATE SUBSCRIPTION :"subscription" CONNECTION :'conninfo' PUBLICATION audit_trail_company;
\echo 'subscribed to plant' :'plant' 'as' :"subscription" '(' :months_made 'month(s) made)'
