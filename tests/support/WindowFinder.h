#pragma once

#include <QListWidget>
#include <QObject>
#include <QString>
#include <QStringList>

namespace ostrel::test {

// The control of a window (or of any object) with the given objectName and type. A control that
// is missing ends the test run at once with its name: every later step would only crash on it.
template <typename T>
T* Find(const QObject* window, const QString& name)
{
    T* control = window ? window->findChild<T*>(name) : nullptr;
    if (!control) {
        qFatal("no control %s", qPrintable(name));
    }
    return control;
}

template <typename T>
T* Find(const QObject& window, const QString& name)
{
    return Find<T>(&window, name);
}

// The texts of a list's items, top to bottom.
inline QStringList ItemTexts(const QListWidget* list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row) {
        texts << list->item(row)->text();
    }
    return texts;
}

} // namespace ostrel::test
