#pragma once

#include <QFont>

// The text styles of the views, each scaled from the application's font (the body style), so a larger
// desktop font enlarges them all.
namespace TextStyles {

QFont body();
QFont callout();     // a little smaller than body: secondary lines of rows
QFont subheadline(); // column headers, captions of groups
QFont caption();     // small labels
QFont caption2();    // the smallest labels: badges, chips
QFont headline();    // body in semibold: titles of rows and sections
QFont title();       // the title of a page or an empty state
QFont title2();
QFont title3();

} // namespace TextStyles
