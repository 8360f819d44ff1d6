#pragma once

#include <QElapsedTimer>
#include <QLineEdit>
#include <QString>
#include <QTimer>

#include "app/application.h"
#include "runtime/value_types.h"

class QAction;

namespace pandrel {

// Finds one of the window's controls by its name.
template <typename T> T* Control(Application& program, const char* name) {
    return program.Window()->findChild<T*>(QString::fromUtf8(name));
}

// Replaces the box's text as a paste would: one committed input-method string, which carries
// Chinese text that synthetic key presses cannot.
void Paste(QLineEdit* input, const Text& text);

// The menu item of that caption in any of the window's popup menus, or nullptr.
QAction* MenuAction(Application& program, const char* item);

// The largest resident size this process has had so far, in MiB.
long PeakResidentMiB();

// Watches a running window: how long its event loop was held up at most (a 20 ms timer that
// notes the longest gap between its ticks), and how many of its labels would show their text
// as rich text (HTML) at once at most, as Qt decides it for an automatic text format.
class WindowWatch {
public:
    explicit WindowWatch(Application& program);
    qint64 LongestStallMs() const { return m_longestStall; }
    int MostRichLabels() const { return m_mostRich; }
    // Looks at the labels now; the timer does so on every tick too.
    void CheckLabels();

private:
    Application& m_program;
    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    qint64 m_longestStall = 0;
    int m_mostRich = 0;
};

} // namespace pandrel
