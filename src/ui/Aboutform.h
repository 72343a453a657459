#pragma once
// The about box: the product's banner picture; a click on it opens the maker's web page.

#include <QDialog>
#include <QPixmap>
#include <QUrl>

#include <functional>
#include <utility>

class QLabel;

// The product's identity banner, 580 x 220, drawn rather than loaded so no image file ships.
QPixmap KorvaIdentityPicture();

class TfrmAbout : public QDialog {
    Q_OBJECT

  public:
    using UrlOpener = std::function<bool(const QUrl&)>;

    static constexpr int kWidth = 580;
    static constexpr int kHeight = 220;
    static const char* const kMakerPage;

    explicit TfrmAbout(QWidget* owner = nullptr);

    // A fresh box owned by owner for every showing, shown modally and deleted when closed.
    static void ShowAbout(QWidget* owner);

    // Opens the maker's web page; the outcome is not examined and the box stays open.
    void Image1Click();

    QLabel* image1() const { return image1_; }
    // Replaces the browser call (tests count calls with it); an empty opener does nothing.
    void SetUrlOpener(UrlOpener opener) { opener_ = std::move(opener); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QLabel* image1_ = nullptr;  // owned by the dialog
    UrlOpener opener_;
};
