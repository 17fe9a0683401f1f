// The connection to the plant database, and times as ODBC passes them.
#include "database.h"

#include <cctype>

namespace qz45trail {

SQL_TIMESTAMP_STRUCT Timestamp(const UtcTime &t) {
    SQL_TIMESTAMP_STRUCT s{};
    s.year = static_cast<SQLSMALLINT>(t.year);
    s.month = static_cast<SQLUSMALLINT>(t.month);
    s.day = static_cast<SQLUSMALLINT>(t.day);
    s.hour = static_cast<SQLUSMALLINT>(t.hour);
    s.minute = static_cast<SQLUSMALLINT>(t.minute);
    s.second = static_cast<SQLUSMALLINT>(t.second);
    s.fraction = static_cast<SQLUINTEGER>(t.nanoseconds);
    return s;
}

UtcTime FromTimestamp(const SQL_TIMESTAMP_STRUCT &s) {
    UtcTime t;
    t.year = s.year;
    t.month = s.month;
    t.day = s.day;
    t.hour = s.hour;
    t.minute = s.minute;
    t.second = s.second;
    t.nanoseconds = static_cast<long>(s.fraction);
    return t;
}

std::string WithoutLineEndConversion(const std::string &connectionString) {
    std::string out, attribute;
    bool braced = false;
    const auto keep = [&out, &attribute] {
        std::string key = attribute.substr(0, attribute.find('='));
        std::string lower;
        for (const char c : key)
            if (!std::isspace(static_cast<unsigned char>(c)))
                lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!lower.empty() && lower != "lfconversion") out += attribute + ";";
        attribute.clear();
    };
    for (const char c : connectionString) {
        if (c == '{') braced = true;
        if (c == '}') braced = false;
        if (c == ';' && !braced) keep();
        else attribute += c;
    }
    keep();
    return out + "LFConversion=0;";
}

Database::Database(const std::string &connectionString)
    : connection(WithoutLineEndConversion(connectionString)) {
    postgres = connection.DbmsName().find("PostgreSQL") != std::string::npos;
}

}  // namespace qz45trail
