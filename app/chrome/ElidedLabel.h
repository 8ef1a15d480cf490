#pragma once

#include "ChromeLabel.h"

namespace pelorin {

// A one-line label for texts of any length. While its text fits on one line
// in the room it has, it shows it exactly as QLabel does; a text that is
// wider, or has several lines, is painted cut to that room and ended with an
// ellipsis. text() always stays the whole text. The room is the label's
// contents width, and no more than its parent leaves visible right of it, so
// the answer is right as soon as the text is set, before any layout runs.
// It reads as static text and acts on a click like the other chrome labels.
class ElidedLabel : public ChromeLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // Whether the text is shown cut.
    bool isElided() const;
    // The text as the label paints it.
    QString shownText() const;

    // One line high; as wide as the whole first line, and willing to shrink.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintText(QPaintEvent* event) override;

private:
    int room() const;
};

}  // namespace pelorin
