// An event's columns judged against its own line, as the stored rows' check
// judges them: a row whose columns disagree is shown with its line's values
// and the columns named, never as plain fact.
#pragma once

#include "review_data.h"

namespace qz45trail {

// Fills in what the table does not keep from e's lineText (the event class,
// the values, a history change's sample), replaces the stored columns that
// the line does not give with the line's values, and names those in
// e->forged ("line_text" when the text is not a trail line: the columns are
// then left as stored). Nothing without a line.
void TakeLineValues(Event *e);

}  // namespace qz45trail
