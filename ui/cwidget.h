#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>

class QLabel;
class QPushButton;

// The frame every window of the client stands on. The system frame is replaced by a drawn one:
// a transparent margin carrying the shadow (and serving as the resize grip), a top band with the
// title and the minimise/close buttons, and a white bottom band for the window's content.
//
// Derived windows only ever deal with the visible frame: the geometry functions below hide
// QWidget's namesakes and translate to and from the real widget, which is larger by
// shadowMargin on every side. Several of QWidget's are not virtual, so Qt itself (layouts,
// animations on "size"/"pos") keeps working on the real widget.
class CWidget : public QWidget
{
    Q_OBJECT

public:
    enum HitRegion
    {
        Top = 0,
        Bottom = 1,
        Left = 2,
        Right = 3,
        TopLeft = 4,
        BottomLeft = 5,
        BottomRight = 6,
        TopRight = 7,
        None = 8,
    };
    Q_ENUM(HitRegion)

    static constexpr int shadowMargin = 10;

    // Off in tests: every fade and animated resize then reaches its end at once and reports it on
    // the next turn of the event loop, as an animation would, and a new order's row blinks five
    // times as fast. The program keeps them on.
    static void SetAnimated(bool on);
    static bool Animated();

    explicit CWidget(QWidget* parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags());
    explicit CWidget(QSize size, QWidget* parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags());
    ~CWidget() override;

    // Visible-frame geometry.
    int width() const;
    int height() const;
    QSize size() const;
    void resize(int w, int h);
    void resize(const QSize& size);
    void move(int x, int y);
    void move(const QPoint& pos);
    QPoint pos() const;
    int x() const;
    int y() const;
    QRect VisibleRect() const;
    // Puts the visible frame in the middle of `area` (a screen's available area).
    void CentreIn(const QRect& area);

    void setFixedSize(const QSize& size);
    void setFixedSize(int w, int h);
    void setFixedWidth(int w);
    void setFixedHeight(int h);
    void setMinimumSize(const QSize& size);
    void setMinimumSize(int minw, int minh);
    void setMinimumWidth(int minw);
    void setMinimumHeight(int minh);
    void setMaximumSize(const QSize& size);
    void setMaximumSize(int maxw, int maxh);
    void setMaximumWidth(int maxw);
    void setMaximumHeight(int maxh);
    QSize minimumSize() const;
    int minimumWidth() const;
    int minimumHeight() const;
    QSize maximumSize() const;
    int maximumWidth() const;
    int maximumHeight() const;

    // Frame access.
    QWidget* TopBand() const { return topBand; }
    QWidget* BottomBand() const { return bottomBand; }
    int TopBandHeight() const;
    int BottomBandHeight() const;
    QLabel* TitleLabel() const { return titleLabel; }
    void ShowTitle();
    void HideTitle();
    void MoveTitle(const QPoint& pos);
    void MoveTitle(int x, int y);
    void SetTitle(const QString& title);
    void SetResizable(bool on);
    bool IsResizable() const { return resizable; }
    void UpdateHitRegion(const QPoint& globalPos);

    // State of the frame as the mouse handling sees it.
    HitRegion CurrentHitRegion() const { return hitRegion; }
    bool Maximized() const { return maximized; }
    QRect RestoreRect() const { return restoreGeometry; }

signals:
    void Close();
    void FinishedAnimationResize();

public slots:
    void ShowMaxMin();
    void Show();
    void ShowFullScreen();
    void ShowMaximized();
    void ShowMinimized();
    void ShowNormal();
    void FadeIn();
    void FadeOut();
    void AnimationResize(QSize size);
    void AnimationMove(QPoint pos);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    void AnimateMaximize();
    void AnimateRestore();

    bool pressed = false;
    QPoint dragOffset;
    HitRegion hitRegion = None;
    QRect restoreGeometry;
    bool maximized = false;
    QWidget* topBand = nullptr;
    QWidget* bottomBand = nullptr;
    QLabel* titleLabel = nullptr;
    QPushButton* minButton = nullptr;
    QPushButton* maxButton = nullptr;
    QPushButton* closeButton = nullptr;
    bool resizable = true;

private:
    void Build(const QSize& visibleSize);
    void LayoutFrame();
    QRect VisibleGlobalRect() const;
    void StartAnimation(const QByteArray& property, const QVariant& from, const QVariant& to, int msecs,
                        void (CWidget::*whenFinished)());
    void EmitFinishedAnimationResize() { emit FinishedAnimationResize(); }
    void CloseWindow() { close(); }
};
