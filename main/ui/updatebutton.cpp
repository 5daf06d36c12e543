#include "main/ui/updatebutton.h"

#include <QDir>
#include <QMap>
#include <QProgressBar>

#include "main/softwareupdate.h"

namespace {

const QString unverifiedText = QStringLiteral("安装程序未经校验");

} // namespace

CUpdateButton::CUpdateButton(CSoftwareUpdate* givenUpdate, QWidget* parent)
    : QPushButton(parent), update(givenUpdate)
{
    setObjectName(QStringLiteral("ppbtnUpdate"));
    hide();
    connect(this, &QPushButton::clicked, update, &CSoftwareUpdate::Proceed);
    connect(update, &CSoftwareUpdate::StateEntered, this, &CUpdateButton::ShowState);
    connect(update, &CSoftwareUpdate::Progress, this, &CUpdateButton::ShowProgress);
    const QString installInfo = QStringLiteral("安装信息");
    connect(update, &CSoftwareUpdate::LeftToPackageManager, this, [this, installInfo] {
        emit TrayMessage(QStringLiteral("本程序由系统的软件包安装，请用软件包管理器（如 apt）更新到新版本。"),
                         installInfo);
    });
    connect(update, &CSoftwareUpdate::InstallerMissing, this, [this, installInfo] {
        emit TrayMessage(QStringLiteral("文件已不存在！已重新下载。 "), installInfo);
    });
    connect(update, &CSoftwareUpdate::InstallerNotStarted, this, [this, installInfo](const QString& path) {
        emit TrayMessage(QStringLiteral("无法启动安装程序！\n软件文件：") + QDir::toNativeSeparators(path),
                         installInfo);
    });
}

void CUpdateButton::ShowState()
{
    using State = CSoftwareUpdate::State;
    static const QMap<State, QString> texts = {
        {State::CheckFailed, QStringLiteral("获取更新失败，点击重试！")},
        {State::Offered, QStringLiteral("有新版本，下载更新")},
        {State::PackageManager, QStringLiteral("有新版本，请用包管理器更新")},
        {State::Preparing, QStringLiteral("准备下载...")},
        {State::DownloadFailed, QStringLiteral("更新下载失败，重试！")},
        {State::Ready, QStringLiteral("点击安装！")}};
    const State state = update->CurrentState();
    // An installer nothing could check says so before it is started.
    const bool unverified = state == State::Ready && update->InstallerUnverified();
    setText(unverified ? unverifiedText : texts.value(state, text()));
    setToolTip(unverified
                   ? QStringLiteral("安装程序经未加密的连接从平台下载，没有校验值可以核对。点击即开始安装。")
                   : QString());
    setEnabled(state != State::Preparing);
    setVisible(state != State::Nothing);
    if (progressBar && state != State::Preparing)
        progressBar->hide();
    const QString why = update->FailureReason();
    if (state == State::CheckFailed)
        emit TrayMessage(QStringLiteral("获取更新失败!请检查网络连接，谢谢！"), QString());
    else if (state == State::DownloadFailed)
        emit TrayMessage(texts.value(state) + QLatin1Char('\n') +
                             (why.isEmpty() ? QStringLiteral("都是网络的错！") : why),
                         QString());
    else if (unverified)
        emit TrayMessage(QStringLiteral("新版已下载完成！\n") + unverifiedText +
                             QStringLiteral("，点击按钮开始安装。"),
                         QString());
    else if (state == State::Ready)
        emit TrayMessage(QStringLiteral("新版已下载完成！"), QString());
}

void CUpdateButton::ShowProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    if (!progressBar) {
        progressBar = new QProgressBar(parentWidget());
        progressBar->setFixedHeight(height() / 2);
        progressBar->move(x(), y() + (height() - progressBar->height()) / 2);
    }
    progressBar->setRange(0, int(bytesTotal));
    progressBar->setValue(int(bytesReceived));
    // The bar takes the button's place until the last byte is in.
    progressBar->setVisible(bytesReceived != bytesTotal);
    setVisible(bytesReceived == bytesTotal);
}
