#pragma once

#include <QWidget>

#include <functional>

namespace qalu::skin {

// Custom-drawn control base. (Stand-in until the skinned look lands; the API below is what the
// window relies on and stays.)
class TTeControl : public QWidget
{
    Q_OBJECT
public:
    explicit TTeControl(QWidget *parent = nullptr);
};

// The push button the update button is drawn in. Wire OnClick; a click calls it with the button
// as sender. Font, enabled state, geometry and focus are the QWidget's own.
class TTeButton : public TTeControl
{
    Q_OBJECT
public:
    explicit TTeButton(QWidget *parent = nullptr);

    QString Caption() const { return m_caption; }
    void setCaption(const QString &caption);

    std::function<void(QObject *sender)> OnClick;

    // Performs a click as the input rules do (for code that must press the button itself).
    void Click();

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QString m_caption;
};

} // namespace qalu::skin
