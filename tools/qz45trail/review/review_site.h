// The review page's site: who may read (the token, then its cookie), which
// page a request asks for, and the database asked for what that page shows;
// a connection lost meanwhile is made again once. What needs no database is
// answered apart (AnswerAtOnce), on the server's own thread.
#pragma once

#include <map>
#include <string>

#include "chain_watcher.h"
#include "http_server.h"
#include "page_database.h"
#include "review_filter.h"
#include "review_pages.h"

namespace qz45trail {

class ReviewSite {
public:
    // token: what the address the program prints carries; windowsUser: who
    // the page runs as, shown on every page and stored with a review.
    ReviewSite(PageDatabase *database, ChainWatcher *watcher, std::string token,
               std::string windowsUser);

    // The answers that need no database (the token's redirect, a refusal,
    // the style sheet, a page that is not there): true with *response set.
    // Reads only what never changes, so any thread may ask.
    bool AnswerAtOnce(const HttpRequest &request, HttpResponse *response) const;

    // Any request, answered from the database unless AnswerAtOnce answers
    // it; a statement that ran out of time is a 503 that says so.
    HttpResponse Handle(const HttpRequest &request);

private:
    bool HasCookie(const std::string &cookies) const;
    HttpResponse Route(const std::string &path, const HttpRequest &request, const Database &db);
    HttpResponse ServeEvents(const EventFilter &f, const Database &db) const;
    HttpResponse ServeHistory(const std::map<std::string, std::string> &query,
                              const Database &db) const;
    HttpResponse ServeOverview(EventFilter f, const Database &db);
    HttpResponse ServeCsv(const EventFilter &f, const Database &db) const;
    HttpResponse ServePrint(const EventFilter &f, const Database &db);
    // The reviews, and of `view` what was said, recorded or given.
    HttpResponse ServeReviews(int status, ReviewsView view, const Database &db) const;
    HttpResponse ServeRecord(const std::map<std::string, std::string> &form,
                             const Database &db);

    PageDatabase &database_;
    ChainWatcher &watcher_;
    const std::string token_;
    const PageContext context_;
};

}  // namespace qz45trail
