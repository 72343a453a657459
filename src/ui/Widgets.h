#pragma once
// Small helpers for laying out the window's controls where they stand.

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QString>

#include "units/Smartedit.h"

namespace korva {

template <typename W>
W* Place(W* w, const char* name, int x, int y, int width = -1, int height = -1) {
    w->setObjectName(name);
    if (width < 0) {
        w->adjustSize();
        w->move(x, y);
    } else {
        w->setGeometry(x, y, width, height);
    }
    return w;
}

inline QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int x, int y) {
    return Place(new QLabel(text, parent), name, x, y);
}
inline TSmartEdit* MakeEdit(QWidget* parent, const char* name, const QString& text, int x, int y, int w,
                            int h = 21) {
    auto* e = new TSmartEdit(parent);
    e->setText(text);
    return Place(e, name, x, y, w, h);
}
inline QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, int x, int y, int w,
                               int h) {
    return Place(new QPushButton(text, parent), name, x, y, w, h);
}
inline QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& text, int x, int y,
                            bool checked) {
    auto* c = new QCheckBox(text, parent);
    c->setChecked(checked);
    return Place(c, name, x, y);
}
// Sets a text only when it differs, so an unchanged panel causes no repaint.
template <typename W>
void SetTextIfChanged(W* w, const QString& text) {
    if (w->text() != text) w->setText(text);
}

}  // namespace korva
