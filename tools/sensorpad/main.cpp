// The sensor pad: drag the dot (or move the sliders) to set the readings the simulator library
// reports; double-click the square or press Rest to put the sensor back at rest.
#include <QApplication>
#include <QScreen>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QWidget>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>

#include "simulator/SharedReadings.hpp"

namespace {

using kestrane::simulator::kResting;
using kestrane::simulator::Readings;
using kestrane::simulator::SharedFile;

// Readings from the centre of the square to its edge: about 8 g, up to 181 pixels of displacement.
// The sliders reach the whole range.
constexpr int kPadSpan = 8192;

uint16_t ClampReading(double value)
{
    return static_cast<uint16_t>(std::clamp(value, 0.0, 65535.0));
}

// A square with a dot: horizontal position is the second-axis reading (which moves the window's left
// edge), vertical position the first-axis reading (its top edge).
class DragArea : public QWidget {
public:
    std::function<void(Readings)> changed;

    DragArea()
    {
        setMinimumSize(160, 160);
        QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
        setCursor(Qt::CrossCursor);
    }

    void SetReadings(Readings r)
    {
        readings_ = r;
        update();
    }

    QSize sizeHint() const override { return {300, 300}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return width; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF square = Square();
        painter.fillRect(square, palette().base());
        painter.setPen(palette().mid().color());
        painter.drawRect(square.adjusted(0, 0, -1, -1));
        painter.drawLine(QPointF(square.center().x(), square.top()), QPointF(square.center().x(), square.bottom()));
        painter.drawLine(QPointF(square.left(), square.center().y()), QPointF(square.right(), square.center().y()));
        const auto along = [](int reading, double start, double length) {
            const double t = std::clamp((reading - kResting) / (2.0 * kPadSpan) + 0.5, 0.0, 1.0);
            return start + t * length;
        };
        const QPointF dot(along(readings_.second, square.left(), square.width()),
                          along(readings_.first, square.top(), square.height()));
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette().highlight());
        painter.drawEllipse(dot, 8, 8);
    }

    void mousePressEvent(QMouseEvent* event) override { Drag(event); }
    void mouseMoveEvent(QMouseEvent* event) override { Drag(event); }
    void mouseDoubleClickEvent(QMouseEvent*) override { Set(Readings{}); }

private:
    QRectF Square() const
    {
        const double side = std::min(width(), height());
        return {(width() - side) / 2, (height() - side) / 2, side, side};
    }

    void Drag(QMouseEvent* event)
    {
        if (!(event->buttons() & Qt::LeftButton))
            return;
        const QRectF square = Square();
        const QPointF p = event->position();
        const auto reading = [](double offset, double length) {
            return ClampReading(kResting + (offset / length - 0.5) * 2.0 * kPadSpan);
        };
        Set({reading(p.y() - square.top(), square.height()), reading(p.x() - square.left(), square.width())});
    }

    void Set(Readings r)
    {
        SetReadings(r);
        if (changed)
            changed(r);
    }

    Readings readings_;
};

class Pad : public QWidget {
public:
    Pad(SharedFile& file, const QString& path) : file_(file)
    {
        setWindowTitle("Kestrane sensor pad");
        auto* layout = new QGridLayout(this);
        area_ = new DragArea;
        first_ = new QSlider(Qt::Vertical);
        second_ = new QSlider(Qt::Horizontal);
        for (QSlider* s : {first_, second_}) {
            s->setRange(0, 65535);
            s->setPageStep(1000);
        }
        first_->setInvertedAppearance(true);  // down is larger, as in the square
        auto* rest = new QPushButton("&Rest");
        values_ = new QLabel;
        auto* where = new QLabel(path);
        where->setTextInteractionFlags(Qt::TextSelectableByMouse);
        where->setForegroundRole(QPalette::PlaceholderText);
        layout->addWidget(area_, 0, 0);
        layout->addWidget(first_, 0, 1);
        layout->addWidget(second_, 1, 0);
        layout->addWidget(values_, 2, 0);
        layout->addWidget(rest, 2, 1);
        layout->addWidget(where, 3, 0, 1, 2);

        area_->changed = [this](Readings r) { Apply(r); };
        connect(first_, &QSlider::valueChanged, this,
                [this](int v) { Apply({static_cast<uint16_t>(v), current_.second}); });
        connect(second_, &QSlider::valueChanged, this,
                [this](int v) { Apply({current_.first, static_cast<uint16_t>(v)}); });
        connect(rest, &QPushButton::clicked, this, [this] { Apply(Readings{}); });
        Apply(file_.Load());
    }

private:
    // One place that writes the file and shows the readings everywhere.
    void Apply(Readings r)
    {
        current_ = r;
        file_.Store(r);
        area_->SetReadings(r);
        const QSignalBlocker b1(first_), b2(second_);
        first_->setValue(r.first);
        second_->setValue(r.second);
        values_->setText(QString("First axis (vertical) %1, second axis (horizontal) %2")
                             .arg(r.first)
                             .arg(r.second));
    }

    SharedFile& file_;
    Readings current_;
    DragArea* area_;
    QSlider* first_;
    QSlider* second_;
    QLabel* values_;
};

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    char path[PATH_MAX];
    SharedFile file;
    if (!kestrane::simulator::SharedFilePath(path, sizeof path)) {
        QMessageBox::critical(nullptr, "Kestrane sensor pad", "The path of the shared file is too long.");
        return 1;
    }
    if (!file.OpenForWriting(path)) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        QMessageBox::critical(nullptr, "Kestrane sensor pad",
                              QString("Cannot use the shared file %1: %2.").arg(QString::fromLocal8Bit(path), why));
        return 1;
    }
    Pad pad(file, QString::fromLocal8Bit(path));
    // At the right edge of the screen, where a new editor window, placed from the left, leaves it in sight.
    pad.adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        pad.move(area.right() - pad.frameGeometry().width() - 8, area.top() + 8);
    }
    pad.show();
    return app.exec();
}
