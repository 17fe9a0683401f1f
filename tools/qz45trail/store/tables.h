// The plant database's table names, spelt here only.
#pragma once

namespace qz45trail {

constexpr char kTrailTable[] = "audit_trail";               // one row per trail line
constexpr char kShipmentsTable[] = "audit_trail_shipments";  // one row per batch shipped
constexpr char kReviewsTable[] = "audit_reviews";            // one row per review recorded
constexpr char kArchivesTable[] = "audit_trail_archives";    // one row per month archived or back

// What a stored line's text holds, as PostgreSQL reads it: its SHA-256, and
// the chain members a chained line ends with, in its last 149 bytes
// (,"prev":"<64 hex digits>","hash":"<64 hex digits>"}), null for a line
// that does not end so.
constexpr char kLineSha256Sql[] = "encode(sha256(convert_to(line_text, 'UTF8')), 'hex')";
#define QZ45_CHAINED "line_text ~ ',\"prev\":\"[0-9a-f]{64}\",\"hash\":\"[0-9a-f]{64}\"}$'"
constexpr char kPrevHashSql[] =
    "CASE WHEN " QZ45_CHAINED " THEN substr(line_text, length(line_text) - 139, 64) END";
constexpr char kLineHashSql[] =
    "CASE WHEN " QZ45_CHAINED " THEN substr(line_text, length(line_text) - 65, 64) END";
#undef QZ45_CHAINED

}  // namespace qz45trail
