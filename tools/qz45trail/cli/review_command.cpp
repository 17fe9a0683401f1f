// qz45trail review: the command line of the review page.
#include <memory>

#include "command.h"
#include "review.h"

namespace qz45trail {

Command AddReviewCommand(CLI::App *app) {
    auto review = std::make_shared<DatabaseCommand<ReviewOptions>>();
    CLI::App *command = app->add_subcommand(
        "review", "Serves a read-only web page over the trail in the database, for reviewers: the "
                  "events with filters, a record's history, the exceptions of a period, a chart, "
                  "CSV and print copies, and the record of reviews done. Every request needs the "
                  "token in the address it prints (kept in a cookie after the first visit).");
    review->database.Add(command);
    command->add_option("--port", review->options.port,
                        "the port (default 8045; 0: one the system picks)");
    command->add_option("--listen", review->options.address,
                        "the address to listen on (default: a loopback address of the page's own, "
                        "127.x.y.z at random, this machine only); another one makes the page "
                        "reachable from elsewhere")->type_name("ADDRESS");
    command->add_option("--query-timeout", review->options.queryTimeout,
                        "seconds a database statement may take before the page says the database "
                        "did not answer (default 20; 0: no limit)")->type_name("SECONDS");
    WatchOptions &watch = review->options.watch;
    command->add_option("--check-interval", watch.checkIntervalSeconds,
                        "seconds between the full checks of every stored row (default 5)")
        ->check(CLI::Range(0LL, 86400LL));
    command->add_option("--silent-after", watch.silentAfterHours,
                        "a machine that shipped nothing for longer is shown as silent (hours, "
                        "default 24)")
        ->check(CLI::Range(1LL, 100000LL));
    command->add_option("--unchained", watch.acceptUnchained,
                        "lines without chain members before the chain that are accepted, as "
                        "verify's --unchained")
        ->check(CLI::Range(0LL, 1000000000LL));
    return DatabaseCommand<ReviewOptions>::Make(command, review, "review", Review);
}

}  // namespace qz45trail
