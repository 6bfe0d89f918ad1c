#pragma once

#include "roadcore/ConfigSchema.h"

#include <QString>

// How the controls of one configuration row read and write the entry's value text. Values keep the form the
// camera wrote them in and never follow the desktop's locale.
namespace ConfigRowValue {

// The text for a slider's value, shaped like the text it replaces: as many decimals as `like` has after its
// ".", else a whole number when the step is whole, else the shortest exact decimal with at least ".0".
QString format(double value, const QString &like, double step);

// A range as slider positions 0...positions(kind): the value of position k is lower + k × step.
int positions(const ConfigSchema::Kind &kind);
double valueAt(const ConfigSchema::Kind &kind, int position);
// Where the slider stands for a text: its number (the lower bound when it is none), kept within the range.
int position(const ConfigSchema::Kind &kind, const QString &text);

// A toggle is on unless its text is empty or "0".
bool isOn(const QString &text);
inline QString toggleText(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

// The text shown beside a slider: the value, then the unit when there is one.
QString withUnit(const QString &text, const std::optional<QString> &unit);

} // namespace ConfigRowValue
