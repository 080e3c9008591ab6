#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "transfer/ConnectionsFile.h"

class ExclusionSet;
namespace Ui {
class FtpExclusionsDlg;
}

// "FTP Exclusion Files": the exact FTP exclusions of a profile, edited on a copy that the
// caller takes back on OK. Browse marks entries on the server (BrowseFtpDlg); Lost Files
// selects the entries the server no longer has. The wildcards pass through unchanged.
class FtpExclusionsDlg : public QDialog {
    Q_OBJECT

  public:
    // `active` is the caller's connection, which Browse and Lost Files may connect or replace;
    // `ftpPath` is where Browse starts.
    FtpExclusionsDlg(ExclusionSet& exclusions, ConnectionList& connections,
                     std::shared_ptr<ConnectionDetails>& active, const std::string& ftpPath,
                     QWidget* parent = nullptr);
    ~FtpExclusionsDlg() override;

    // True once the connection manager changed the connections (the caller saves the file).
    bool connectionsChanged() const { return connectionsChanged_; }
    // Where Browse starts next: the folder the browse dialog showed last.
    const std::string& ftpPath() const { return ftpPath_; }

  public slots:
    void OnBrowse();
    void OnRemove();
    void OnLostFiles();

  private:
    void updateButtons();

    std::unique_ptr<Ui::FtpExclusionsDlg> ui_;
    ExclusionSet& exclusions_;
    ConnectionList& connections_;
    std::shared_ptr<ConnectionDetails>& active_;
    std::string ftpPath_;
    bool connectionsChanged_ = false;
};
