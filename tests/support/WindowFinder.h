#pragma once

#include <QObject>
#include <QString>

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

} // namespace ostrel::test
