#pragma once

#include "settings/settingsfile.h"

#include <QDialog>

#include <memory>

namespace Ui {
class DataConfig;
}
using DataConfigForm = Ui::DataConfig;

// Edits the connection settings and the server's CA certificate. It opens with the values in
// ConnectionSettings and, on OK, stores changed values in the settings file; it never changes
// ConnectionSettings itself, so the caller reads the file again after an Accepted close.
class DataConfig : public QDialog
{
    Q_OBJECT

public:
    explicit DataConfig(QWidget *parent = nullptr);
    ~DataConfig() override;

public slots:
    // Closes as Accepted only once the file holds the new values; as Rejected when nothing
    // changed; otherwise stays open with the reason on DataConfigErrorLabel.
    void accept() override;

private:
    // What the dialog says for a save that failed, with the file and the reason below.
    static QString failureMessage(RewriteFailure failure, const FileProblem &problem);

    std::unique_ptr<DataConfigForm> ui;
};
