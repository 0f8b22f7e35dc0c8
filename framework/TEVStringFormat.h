#pragma once
// TEVStringFormat: fills the "%@" placeholders of a (localised) format text in order; "%%" is a percent
// sign. Placeholders beyond the arguments stay as they are. Stateless.

#include <QString>
#include <QStringList>

class TEVStringFormat {
public:
    static QString withObjects(const QString& format, const QStringList& objects);
};
