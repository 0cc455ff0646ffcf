// elemorama-sheet [--title TEXT] [--columns N] [--cell-width PX] -o OUT.png LABEL=FILE[@X,Y,W,H] ...
// elemorama-sheet --enlarge WIDTH IN OUT
//
// Lays the images out row by row, N to a row, each scaled (area-averaged) to the cell width with
// its label above it, and writes one PNG. Full-size renders become a sheet small enough to judge a
// whole effect at a glance; the cell shows the frame as a viewer's "fit to window" would. A
// rectangle after "@" (fractions 0 ... 1 of the width and height) shows only that part of the
// image, for a look at the detail of a full-size render.
//
// --enlarge scales a photo (or its selection mask) smoothly to WIDTH pixels, keeping its aspect, so
// that the effects can be judged at the size of a modern camera's frame from the smaller samples.
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct Cell {
    QString label;
    QImage image;
};

int usage() {
    std::fprintf(
        stderr,
        "usage: elemorama-sheet [--title TEXT] [--columns N] [--cell-width PX] -o OUT.png LABEL=FILE ...\n"
        "       elemorama-sheet --enlarge WIDTH IN OUT\n");
    return 2;
}

// Halving steps with a box filter, then one smooth step to the exact width: a plain smooth scale
// of a 12-megapixel frame to a few hundred pixels would alias fine structure (rain streaks, frost
// grain) into patterns that are not in the picture.
QImage shrink(QImage image, int width) {
    image = image.convertToFormat(QImage::Format_RGB32);
    while (image.width() >= 2 * width) {
        const int w = image.width() / 2, h = std::max(1, image.height() / 2);
        QImage half(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y) {
            const QRgb* a =
                reinterpret_cast<const QRgb*>(image.constScanLine(std::min(2 * y, image.height() - 1)));
            const QRgb* b =
                reinterpret_cast<const QRgb*>(image.constScanLine(std::min(2 * y + 1, image.height() - 1)));
            QRgb* out = reinterpret_cast<QRgb*>(half.scanLine(y));
            for (int x = 0; x < w; ++x) {
                const QRgb p[4] = {a[2 * x], a[2 * x + 1], b[2 * x], b[2 * x + 1]};
                int r = 0, g = 0, bl = 0;
                for (QRgb q : p) {
                    r += qRed(q);
                    g += qGreen(q);
                    bl += qBlue(q);
                }
                out[x] = qRgb((r + 2) / 4, (g + 2) / 4, (bl + 2) / 4);
            }
        }
        image = half;
    }
    return image.scaledToWidth(width, Qt::SmoothTransformation);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen"); // text needs a GUI application, not a display
    QGuiApplication application(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "--enlarge") == 0) {
        if (argc != 5) return usage();
        bool ok = false;
        const int width = QString::fromLocal8Bit(argv[2]).toInt(&ok);
        if (!ok || width < 1 || width > 20000) return usage();
        QImage image;
        if (!image.load(QString::fromLocal8Bit(argv[3]))) {
            std::fprintf(stderr, "elemorama-sheet: cannot read %s\n", argv[3]);
            return 1;
        }
        if (!image.scaledToWidth(width, Qt::SmoothTransformation).save(QString::fromLocal8Bit(argv[4]))) {
            std::fprintf(stderr, "elemorama-sheet: cannot write %s\n", argv[4]);
            return 1;
        }
        return 0;
    }
    QString title, output;
    int columns = 3, cellWidth = 480;
    std::vector<std::pair<QString, QString>> entries;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        auto value = [&](QString& into) {
            if (i + 1 >= argc) return false;
            into = QString::fromLocal8Bit(argv[++i]);
            return true;
        };
        QString text;
        if (arg == "--title") {
            if (!value(title)) return usage();
        } else if (arg == "-o" || arg == "--output") {
            if (!value(output)) return usage();
        } else if (arg == "--columns" || arg == "--cell-width") {
            bool ok = false;
            if (!value(text)) return usage();
            const int n = text.toInt(&ok);
            if (!ok || n < 1 || n > (arg == "--columns" ? 64 : 4000)) return usage();
            (arg == "--columns" ? columns : cellWidth) = n;
        } else if (arg.startsWith('-')) {
            return usage();
        } else {
            const int eq = arg.indexOf('=');
            if (eq < 0) return usage();
            entries.emplace_back(arg.left(eq), arg.mid(eq + 1));
        }
    }
    if (output.isEmpty() || entries.empty()) return usage();

    std::vector<Cell> cells;
    int cellHeight = 0;
    for (const auto& [label, file] : entries) {
        QImage image;
        const int at = file.lastIndexOf('@');
        const QString path = at < 0 ? file : file.left(at);
        if (!image.load(path)) {
            std::fprintf(stderr, "elemorama-sheet: cannot read %s\n", qPrintable(path));
            return 1;
        }
        if (at >= 0) {
            const QStringList parts = file.mid(at + 1).split(',');
            double r[4] = {0, 0, 1, 1};
            bool ok = parts.size() == 4;
            for (int k = 0; ok && k < 4; ++k) {
                r[k] = parts[k].toDouble(&ok);
                ok = ok && r[k] >= 0.0 && r[k] <= 1.0;
            }
            const QRect crop =
                QRect(int(r[0] * image.width()), int(r[1] * image.height()),
                      std::max(1, int(r[2] * image.width())), std::max(1, int(r[3] * image.height())))
                    .intersected(image.rect());
            if (!ok || crop.isEmpty()) return usage();
            image = image.copy(crop);
        }
        cells.push_back({label, shrink(image, cellWidth)});
        cellHeight = std::max(cellHeight, cells.back().image.height());
    }

    QFont font("DejaVu Sans");
    font.setPixelSize(14);
    const int labelHeight = 22, gap = 6, titleHeight = title.isEmpty() ? 0 : 30;
    const int rows = int((cells.size() + columns - 1) / columns);
    const int usedColumns = std::min<int>(columns, int(cells.size()));
    QImage sheet(gap + usedColumns * (cellWidth + gap),
                 titleHeight + gap + rows * (labelHeight + cellHeight + gap), QImage::Format_RGB32);
    sheet.fill(QColor(40, 40, 40));
    QPainter painter(&sheet);
    painter.setPen(QColor(235, 235, 235));
    if (!title.isEmpty()) {
        QFont bold = font;
        bold.setPixelSize(18);
        bold.setBold(true);
        painter.setFont(bold);
        painter.drawText(QRect(gap, 0, sheet.width() - 2 * gap, titleHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, title);
    }
    painter.setFont(font);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const int col = int(i % columns), row = int(i / columns);
        const int x = gap + col * (cellWidth + gap);
        const int y = titleHeight + gap + row * (labelHeight + cellHeight + gap);
        painter.drawText(QRect(x, y, cellWidth, labelHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         painter.fontMetrics().elidedText(cells[i].label, Qt::ElideRight, cellWidth));
        painter.drawImage(x, y + labelHeight, cells[i].image);
    }
    painter.end();
    if (!sheet.save(output, "PNG")) {
        std::fprintf(stderr, "elemorama-sheet: cannot write %s\n", qPrintable(output));
        return 1;
    }
    return 0;
}
