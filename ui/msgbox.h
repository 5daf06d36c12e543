#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSize>

#include <functional>

#include <QLabel>
#include <QTimer>

class CWidget;

// The message box and loading indicator that several windows show over their content. The
// behaviour is the same in every window; only where the two labels go differs, so each window
// owns one CMsgBox built with its placement and forwards its ShowMsgBox/HideMsgBox/
// ShowLoadingAnimation/HideLoadingAnimation slots to it.
//
// A box hides itself after `second` seconds; with second <= 0 it stays until HideMsgBox() or
// until the timer of an earlier call fires. Showing the loading indicator removes the box and
// showing a box removes the indicator.
class CMsgBox : public QObject
{
    Q_OBJECT

public:
    // Top-left corner, in the window's own coordinates (origin at the outer corner of the
    // shadow margin), for a label of the given size.
    using Place = std::function<QPoint(const CWidget& window, const QSize& label)>;

    struct Placement
    {
        Place box;
        Place loading; // empty when the window has no loading indicator
    };

    // The windows' placements. Order detail: box centred in the whole window, indicator centred
    // in the bottom band.
    static Placement ForOrderWidget();
    // Confirmation table: box centred in the bottom band; no loading indicator.
    static Placement ForServerTable();
    // Profile and income windows: both centred in the bottom band, across the visible width.
    static Placement ForUserInfo();
    static Placement ForIncome();
    // Settings window: box centred in the bottom band; no loading indicator.
    static Placement ForSettings();

    static constexpr int defaultSeconds = 5;
    static constexpr int loadingSize = 80;

    CMsgBox(CWidget* window, Placement placement);
    ~CMsgBox() override;

    QLabel* MsgBoxLabel() const { return msgBoxLabel; }
    QTimer* MsgBoxTimer() const { return msgBoxTimer; }
    QLabel* LoadingLabel() const { return loadingLabel; }
    bool IsLoading() const { return loadingLabel != nullptr; }
    bool HasLoadingIndicator() const { return bool(placement.loading); }

public slots:
    void ShowMsgBox(const QString& message, int second);
    void ShowMsgBox(const QString& message) { ShowMsgBox(message, defaultSeconds); }
    void HideMsgBox();
    void ShowLoadingAnimation();
    void HideLoadingAnimation();
    // Places a visible box and a running indicator again, for the window's resizeEvent.
    void Reposition();

private:
    void PlaceBox();
    void PlaceLoading();

    CWidget* window;
    Placement placement;
    QPointer<QLabel> msgBoxLabel;
    QPointer<QTimer> msgBoxTimer;
    QPointer<QLabel> loadingLabel;
};
