#pragma once

#include "platform/core/Strings.h"

#include <QLabel>
#include <QString>

namespace vornakel {

// A "GeneralUI" text by key, for the copy sheets.
inline QString ui(const char* key)
{
    return GeneralUI::text(QString::fromLatin1(key));
}

// A label for text from outside (camera and file names): shown as written, never as markup.
inline QLabel* plainLabel(QWidget* parent, const char* name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace vornakel
