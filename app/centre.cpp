#include "app/centre.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace qalu::app {

namespace {

QMargins frameMargins(const QWidget *window)
{
    const QWindow *handle = window->windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

void place(QWidget *window, const QMargins &margins)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame(QPoint(0, 0), window->size().grownBy(margins));
    frame.moveCenter(screen->geometry().center());
    // A screen with a panel at the top must not hide the title bar.
    const QRect work = screen->availableGeometry();
    frame.moveTop(std::max(frame.top(), work.top()));
    frame.moveLeft(std::max(frame.left(), work.left()));
    // For a window, move() places the frame's top-left corner.
    window->move(frame.topLeft());
}

// Places the window again whenever the frame the platform reports changes, for a few seconds after
// the window is shown: long enough for the window manager, too short to undo a move by the user.
class FrameFollower : public QObject
{
public:
    FrameFollower(QWidget *window, const QMargins &used)
        : QObject(window)
        , m_window(window)
        , m_used(used)
    {
        setObjectName(QLatin1String(name));
        window->installEventFilter(this);
    }

    static constexpr char name[] = "qalu_frame_follower";

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_window)
            return false;
        switch (event->type()) {
        case QEvent::Show:
            QTimer::singleShot(3000, this, [this] { deleteLater(); });
            [[fallthrough]];
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::UpdateRequest:
            if (const QMargins margins = frameMargins(m_window); margins != m_used) {
                m_used = margins;
                place(m_window, margins);
            }
            break;
        default:
            break;
        }
        return false;
    }

private:
    QWidget *m_window;
    QMargins m_used;
};

} // namespace

void centreOnPrimaryScreen(QWidget *window)
{
    const QMargins margins = frameMargins(window);
    place(window, margins);
    if (!window->findChild<QObject *>(QLatin1String(FrameFollower::name), Qt::FindDirectChildrenOnly))
        new FrameFollower(window, margins);
}

} // namespace qalu::app
