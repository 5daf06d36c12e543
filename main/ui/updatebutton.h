#pragma once

#include <QPushButton>

class CSoftwareUpdate;
class QProgressBar;

// The button under the order tabs that offers a newer build and follows its download: its text
// says what the update is doing, a click takes the next step, and while bytes come in a progress
// bar takes its place. What needs a word to the user goes out through TrayMessage.
class CUpdateButton : public QPushButton
{
    Q_OBJECT
public:
    CUpdateButton(CSoftwareUpdate* update, QWidget* parent);

    QProgressBar* ProgressBar() const { return progressBar; }

signals:
    // `title` is empty where the program's name will do.
    void TrayMessage(const QString& text, const QString& title);

private:
    void ShowState();
    void ShowProgress(qint64 bytesReceived, qint64 bytesTotal);

    CSoftwareUpdate* update;
    // Made with the first bytes, beside the button in the same parent.
    QProgressBar* progressBar = nullptr;
};
