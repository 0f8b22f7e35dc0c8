#pragma once
// TEVStringFormat: fills the "%@" placeholders of a (localised) format text in order; "%%" is a percent
// sign. Placeholders beyond the arguments stay as they are. Also prints one number as C printf does.
// Stateless; any thread.

#include <QString>
#include <QStringList>

class TEVStringFormat {
public:
    static QString withObjects(const QString& format, const QStringList& objects);
    // `value` through one floating-point conversion of C printf ("%7.1f", "%g"): exact halves round as the C
    // library rounds them (36.5 with "%3.0f" is " 36"), and the decimal point is '.' whatever LC_NUMERIC the
    // application set. Null for a format that is not a single conversion of type f, e or g.
    static QString withNumber(const char* format, double value);
    // One CSV field: bare unless it holds a character of `characters` or a double quote; then wrapped in
    // double quotes with every inner one doubled, so spreadsheets read the field back unchanged (RFC 4180).
    // Null when either argument is null.
    static QString quotedCSVField(const QString& field, const QString& characters);
    // The separator set the exports quote on: comma, blank, tab, carriage return, line feed.
    static const QString& csvSpecialCharacters();
};
