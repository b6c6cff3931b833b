#include "app/TerminationSignals.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

using namespace verticora;

namespace {

// Like the controls window, whose close button only hides it: it turns a close down.
class RefusingWindow : public QWidget {
protected:
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

} // namespace

// Qt's quit first closes every window and is dropped when one stays open; the session
// manager's request to quit at logout arrives that way. The application must end anyway.
TEST(TerminationSignals, aQuitRequestEndsTheEventLoopWhateverTheWindowsSay)
{
    TerminationSignals termination;
    RefusingWindow window;
    window.show();
    QWidget reminder;
    reminder.show();
    QTimer::singleShot(0, [] { QCoreApplication::quit(); });
    QTimer::singleShot(2000, [] { QCoreApplication::exit(1); }); // the quit was dropped
    EXPECT_EQ(QCoreApplication::exec(), 0);
}
