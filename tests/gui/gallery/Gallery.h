#pragma once
// Shared between the gallery's pages: a named widget to take a screenshot of.
#include <QString>
#include <QWidget>

#include <vector>

struct Shot {
    QString name;
    QWidget* widget;
};
