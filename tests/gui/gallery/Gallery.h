#pragma once
// Shared between the gallery's pages: a named widget to take a screenshot of.
#include <QPalette>
#include <QString>
#include <QWidget>

#include <vector>

struct Shot {
    QString name;
    QWidget* widget;
};

// The dark palette every page is also shown in.
QPalette darkPalette();
