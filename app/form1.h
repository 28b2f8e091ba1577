#pragma once

#include "db/connection.h"
#include "db/query.h"
#include "intake/downloader.h"
#include "intake/price_grid.h"
#include "update/update_session.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QScrollArea;

namespace qalu::skin {
class TTeButton;
}

namespace qalu::app {

class Notifier;

// The values the window works with: the build's fixed values, overridden by the settings files
// (qalu::Settings); tests pass others.
struct FormSettings
{
    FormSettings();

    QString connectionString;
    QString downloadUrl;
    QString workbookPath;
    QString priceListDate; // shown on the button
    std::optional<QChar> decimalSeparator; // the locale's, kept up to date, when not set
    QString journalFolder; // empty: the default folder
    DownloadLimits downloadLimits;
    // The download step; tests replace it to make it raise, which a real server cannot.
    std::function<DownloadResult(const QString &url, const QString &path, const DownloadLimits &limits)>
        download;
};

// The main window `Form1`: two pictures, the hidden price grid and the update button, with the
// database connection and its five query objects (an update session the window owns). The first show connects
// and downloads the workbook before the window reaches the screen; closing it deletes the workbook and ends
// the program. Messages go through the notifier (the real dialogs unless one is given).
class TForm1 : public QWidget
{
    Q_OBJECT
public:
    enum class CloseAction { caHide };

    explicit TForm1(const FormSettings &settings = FormSettings(), Notifier *notifier = nullptr,
        QWidget *parent = nullptr);
    ~TForm1() override;

private:
    // First, so the components below can name its parts.
    update::UpdateSession m_session;

public:
    // Components, owned by the window and living as long as it does.
    db::TConnection &ADOConnection1;
    db::TQuery &qgeneral;
    db::TQuery &QGeneral6;
    db::TQuery &QInsertN;
    db::TQuery &QFindNewCat;
    db::TQuery &QGeneral4;
    TStringGrid &StringGrid1;
    QLabel *Image2;
    QLabel *Image1;
    skin::TTeButton *UploadBut;

    // Event handlers.
    void FormShow(QObject *sender);
    void FormClose(QObject *sender, CloseAction &action);
    void TeButton1Click(QObject *sender);

    // Steps of the price update run.
    void ClearGrid();
    bool LoadWorkbookToGrid(TStringGrid &grid, const QString &path);
    QString FindOrAddCategory(const QString &name);
    qint32 NextCategoryNumber();

    const FormSettings &settings() const { return m_settings; }
    QScrollArea *scrollArea() const { return m_scroll; }

    void setVisible(bool visible) override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The separator of the price texts: the settings' own, else the locale's.
    QChar separator() const;

    FormSettings m_settings;
    Notifier *m_notifier;
    QScrollArea *m_scroll;
    QWidget *m_client;
    bool m_shown = false;
    bool m_closed = false;
};

} // namespace qalu::app
