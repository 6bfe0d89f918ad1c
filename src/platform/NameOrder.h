#pragma once

#include <QCollator>
#include <QStringView>

// The order of names as a person reads them: case-insensitive, digit runs by numeric value ("clip2" before
// "clip10"), in the user's language. Without a locale (C or POSIX) the collator would compare code units,
// so English rules stand in.
namespace NameOrder {

// A new collator; collators are not shared between threads.
QCollator collator();
// Compares with a collator kept per thread.
int compare(QStringView a, QStringView b);

} // namespace NameOrder
