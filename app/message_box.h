#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace qalu::app {

// The message box every message of the program goes through: the application title as caption,
// no icon, the text word-wrapped at half the screen width and one "OK" button that is both the
// default and the cancel button. Sized in dialog units of its font; Ctrl+C copies its content.
// Use inform(text), which waits until the user has dismissed the box.
class MessageBox : public QDialog
{
    Q_OBJECT
public:
    explicit MessageBox(const QString &text, QWidget *parent = nullptr);

    static void inform(const QString &text);

    QString text() const { return m_text; }
    QPushButton *okButton() const { return m_ok; }
    QLabel *textLabel() const { return m_label; }
    // What Ctrl+C puts on the clipboard.
    QString clipboardText() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QString m_text;
    QLabel *m_label;
    QPushButton *m_ok;
};

} // namespace qalu::app
