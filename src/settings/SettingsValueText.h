#pragma once
// The value text of XML side files: every value is written as one text and read back to the same
// type. Plain values are their string form ("true", "12", "1.5", "text"); other types use "@" forms
// ("@Rect(0 0 10 20)", "@Size(3 4)", "@Point(1 2)", "@UntF(#Pxl 12.0)", "@Enum(Ornt Hrzn)",
// "@Invalid()", and "@Variant(<Base64 of QDataStream v7>)" for anything else). A string that itself
// begins with "@" is written with one more "@" in front.

#include <QString>
#include <QVariant>

namespace Orvex {

QString settingsValueToText(const QVariant& value);

// A text in one of the "@" forms yields that type (a malformed "@" form yields the text as a
// string); "true"/"false" a bool; "@@..." the string without its first "@"; digits with at most one
// "-", no letters and no "." an int (a qlonglong when it does not fit), with exactly one "." a
// double; anything else a string.
QVariant settingsValueFromText(const QString& text);

// Fixed notation with 6 decimals, trailing zeros removed but one digit kept after the point.
QString settingsDoubleText(double value);

} // namespace Orvex
