// The review page's site: access, routes, and the data each page is made of.
#include "review_site.h"

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

#include "local_time.h"
#include "review_queries.h"
#include "review_record.h"
#include "review_style.h"
#include "transaction.h"
#include "url.h"
#include "watch_status.h"

namespace qz45trail {
namespace {

constexpr char kCookie[] = "qz45review";

// The pages Route serves: any other path is not there.
const char *const kRoutes[] = {"/", "/events", "/history", "/overview", "/export.csv", "/print",
                               "/reviews"};

// How long a review or a printed copy waits for its fresh check of the chains.
constexpr long long kFreshCheckSeconds = 120;

// Every page comes from here and asks for nothing from anywhere else.
const std::vector<std::pair<std::string, std::string>> kHeaders = {
    {"Content-Security-Policy",
     "default-src 'self'; style-src 'self'; img-src 'self'; script-src 'self'; form-action 'self'; "
     "frame-ancestors 'none'; base-uri 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"Cache-Control", "no-store"},
};

HttpResponse Page(int status, std::string body, const char *contentType = nullptr) {
    HttpResponse r;
    r.status = status;
    r.headers = kHeaders;
    r.body = std::move(body);
    if (contentType != nullptr) r.contentType = contentType;
    return r;
}

HttpResponse PlainText(int status, std::string body) {
    return Page(status, std::move(body), "text/plain; charset=utf-8");
}

// The review just recorded, as the address after recording it says.
long long RecordedId(const std::string &query) {
    const std::string id = FormField(ParseForm(query), "recorded");
    if (id.empty() || id.size() > 18 ||
        id.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::stoll(id);
}

HttpResponse SeeOther(const std::string &location) {
    HttpResponse r = Page(303, "");
    r.headers.push_back({"Location", location});
    return r;
}

}  // namespace

ReviewSite::ReviewSite(PageDatabase *database, ChainWatcher *watcher, std::string token,
                       std::string windowsUser)
    : database_(*database), watcher_(*watcher), token_(std::move(token)),
      context_{std::move(windowsUser), LocalText, LocalZoneText()} {}

bool ReviewSite::AnswerAtOnce(const HttpRequest &request, HttpResponse *response) const {
    const std::string path = TargetPath(request.target);
    const std::map<std::string, std::string> query = ParseForm(TargetQuery(request.target));
    if (FormField(query, "token") == token_) {
        // The token goes into a cookie; the address without it is shown.
        std::string rest;
        for (const auto &q : query)
            if (q.first != "token")
                rest += (rest.empty() ? "?" : "&") + UrlEncode(q.first) + "=" + UrlEncode(q.second);
        *response = Page(303, "");
        response->headers.push_back({"Set-Cookie", std::string(kCookie) + "=" + token_ +
                                                       "; Path=/; HttpOnly; SameSite=Strict"});
        response->headers.push_back({"Location", path + rest});
        return true;
    }
    if (!HasCookie(request.cookie))
        *response = PlainText(403, "403 Forbidden: open the address that qz45trail review printed "
                                   "when it started.\n");
    else if (path == "/style.css")
        *response = Page(200, kReviewStyle, "text/css; charset=utf-8");
    else if (std::find(std::begin(kRoutes), std::end(kRoutes), path) == std::end(kRoutes))
        *response = Page(404, NotFoundPage(context_));
    else
        return false;
    return true;
}

HttpResponse ReviewSite::Handle(const HttpRequest &request) {
    HttpResponse now;
    if (AnswerAtOnce(request, &now)) return now;
    const std::string path = TargetPath(request.target);
    // A connection lost meanwhile (the server restarted) is made again once.
    for (int attempt = 0;; ++attempt) {
        try {
            Database &db = database_.Get();
            Transaction reading(db.connection);  // a page only reads, but for a review recorded
            return Route(path, request, db);
        } catch (const OdbcError &e) {
            database_.Drop();
            if (e.TimedOut())
                return Page(503, DatabaseErrorPage(
                                     context_, "Timed out: the database did not answer within " +
                                                   std::to_string(database_.QueryTimeout()) +
                                                   " s; try again later. (" + e.what() + ")"));
            if (attempt > 0 || !e.Transient())
                return Page(503, DatabaseErrorPage(context_, e.what()));
        }
    }
}

bool ReviewSite::HasCookie(const std::string &cookies) const {
    const std::string wanted = std::string(kCookie) + "=" + token_;
    std::size_t at = 0;
    while (at < cookies.size()) {
        while (at < cookies.size() && (cookies[at] == ' ' || cookies[at] == ';')) ++at;
        const std::size_t end = std::min(cookies.find(';', at), cookies.size());
        if (cookies.compare(at, end - at, wanted) == 0) return true;
        at = end;
    }
    return false;
}

HttpResponse ReviewSite::Route(const std::string &path, const HttpRequest &request,
                                const Database &db) {
    const std::string query = TargetQuery(request.target);
    if (path == "/" || path == "/events") return ServeEvents(ReadFilter(query, LocalToUtc), db);
    if (path == "/history") return ServeHistory(ParseForm(query), db);
    if (path == "/overview") return ServeOverview(ReadFilter(query, LocalToUtc), db);
    if (path == "/export.csv") return ServeCsv(ReadFilter(query, LocalToUtc), db);
    if (path == "/print") return ServePrint(ReadFilter(query, LocalToUtc), db);
    if (path == "/reviews") {
        if (request.method == "POST") return ServeRecord(ParseForm(request.body), db);
        return ServeReviews(200, {"", RecordedId(query), {}}, db);
    }
    return Page(404, NotFoundPage(context_));
}

namespace {

// A page of up to perPage rows from the rows read for it, one more than it
// shows when there are more (read backwards, to a page before a row: the
// one beyond it comes first, and there are more after it).
EventsPageRows PageOf(std::vector<Event> events, long long perPage, bool backwards) {
    EventsPageRows page;
    page.events = std::move(events);
    const bool beyond = page.events.size() > static_cast<std::size_t>(perPage);
    page.more = backwards || beyond;
    if (beyond && backwards) page.events.erase(page.events.begin());
    else if (beyond) page.events.pop_back();
    return page;
}

}  // namespace

HttpResponse ReviewSite::ServeEvents(const EventFilter &f, const Database &db) const {
    const std::vector<std::string> machines = ShippedMachines(db.connection);
    if (!f.errors.empty())
        return Page(400, CountedEventsPage(context_, f, machines, EventsPageRows{}));
    // A page continues from the row next to it (one before it is read
    // backwards: the row beyond it comes first); one asked for by its
    // number only is counted to.
    const long long offset =
        f.after.given || f.before.given ? 0 : (std::max(1LL, f.page) - 1) * kPageRows;
    EventsPageRows page = PageOf(FilteredEvents(db.connection, f, kPageRows + 1, offset),
                                 kPageRows, f.before.given && !f.after.given);
    page.total = CountEvents(db.connection, f, kCountedRows);
    return Page(200, CountedEventsPage(context_, f, machines, page));
}

HttpResponse ReviewSite::ServeHistory(const std::map<std::string, std::string> &query,
                                 const Database &db) const {
    const HistoryQuery q = ReadHistoryQuery(query);
    if (!q.errors.empty()) return Page(400, HistoryPage(context_, q, EventsPageRows{}));
    EventsPageRows page = PageOf(RecordHistory(db.connection, q, kHistoryRows + 1), kHistoryRows,
                                 q.before.given && !q.after.given);
    page.total = CountHistory(db.connection, q, kCountedRows);
    return Page(200, HistoryPage(context_, q, page));
}

HttpResponse ReviewSite::ServeOverview(EventFilter f, const Database &db) {
    DefaultToLastWeek(&f, NowUtc());
    const std::vector<std::string> names = ShippedMachines(db.connection);
    if (!f.errors.empty()) return Page(200, OverviewPage(context_, f, names, {}, {}, db.postgres));
    const Overview overview = ReadOverview(db.connection, f);
    watcher_.Refresh(db.connection);
    return Page(200, OverviewPage(context_, f, names, overview, watcher_.Machines(), db.postgres));
}

HttpResponse ReviewSite::ServeCsv(const EventFilter &f, const Database &db) const {
    if (!f.errors.empty()) {
        std::string said;
        for (const std::string &e : f.errors) said += e + "\n";
        return PlainText(400, said);
    }
    const std::vector<Event> events = FilteredEvents(db.connection, f, kCsvRows + 1, 0);
    if (events.size() > static_cast<std::size_t>(kCsvRows))
        return PlainText(413, "More than " + std::to_string(kCsvRows) +
                                  " events: narrow the filter (a shorter period, a machine, a "
                                  "user).\n");
    HttpResponse r = Page(200, CsvBody(events, LocalText), "text/csv; charset=utf-8");
    r.headers.push_back({"Content-Disposition", "attachment; filename=\"audit-trail.csv\""});
    return r;
}

HttpResponse ReviewSite::ServePrint(const EventFilter &f, const Database &db) {
    if (!f.errors.empty()) return ServeEvents(f, db);
    // A copy says what a check made for it found, not what one found earlier.
    std::vector<MachineStatus> machines;
    std::string why;
    if (db.postgres && !watcher_.FreshCheck(kFreshCheckSeconds, &machines, &why))
        return Page(503, DatabaseErrorPage(context_, "No copy printed: the chains could not be "
                                                     "checked afresh (" + why + ")."));
    if (!db.postgres) machines = watcher_.Machines();
    const std::vector<Event> events = FilteredEvents(db.connection, f, kPrintRows + 1, 0);
    return Page(200, PrintPage(context_, f, machines, db.postgres, events, NowUtc()));
}

HttpResponse ReviewSite::ServeReviews(int status, ReviewsView view, const Database &db) const {
    view.token = token_;
    view.machines = ShippedMachines(db.connection);
    view.reviews = RecentReviews(db.connection);
    return Page(status, ReviewsPage(context_, view));
}

HttpResponse ReviewSite::ServeRecord(const std::map<std::string, std::string> &form,
                                const Database &db) {
    if (FormField(form, "token") != token_)
        return PlainText(403, "403 Forbidden: the form did not come from this page.\n");
    NewReview review;
    std::string said;
    if (!ReadReviewForm(form, LocalToUtc, &review, &said) ||
        !CheckReview(review, ShippedMachines(db.connection), NowUtc(), &said))
        return ServeReviews(400, {said, 0, form}, db);
    // A review records what a check made for it found.
    std::vector<MachineStatus> machines;
    std::string why;
    if (db.postgres && !watcher_.FreshCheck(kFreshCheckSeconds, &machines, &why))
        return ServeReviews(503, {"No review recorded: the chains could not be checked afresh (" +
                                      why + "). Try again.", 0, form}, db);
    review.remark += ChainsChecked(machines, LocalText);
    return SeeOther("/reviews?recorded=" +
                    std::to_string(RecordReview(db.connection, review, context_.reader)));
}

}  // namespace qz45trail
