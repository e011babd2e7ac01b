// Draws the two pictures of the installer window's header and writes them as JPEG:
//   qv-installer-art DIR   -> DIR/header.jpg (the picture at the right), DIR/logo.jpg
// The committed pictures in src/installer/gui/res were made with it.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

// A database drum: a cylinder of three stacked discs.
void Drum(QPainter& p, QRectF r, QColor c) {
  const qreal h = r.height() / 3, e = h * 0.55;
  for (int i = 2; i >= 0; --i) {
    QRectF disc(r.left(), r.top() + i * h, r.width(), h);
    QPainterPath body;
    body.moveTo(disc.left(), disc.top() + e / 2);
    body.lineTo(disc.left(), disc.bottom() - e / 2);
    body.arcTo(QRectF(disc.left(), disc.bottom() - e, disc.width(), e), 180, 180);
    body.lineTo(disc.right(), disc.top() + e / 2);
    body.arcTo(QRectF(disc.left(), disc.top(), disc.width(), e), 0, -180);
    QLinearGradient g(disc.topLeft(), disc.topRight());
    g.setColorAt(0, c.darker(130));
    g.setColorAt(0.45, c.lighter(130));
    g.setColorAt(1, c.darker(150));
    p.setPen(QPen(c.darker(180), 1));
    p.setBrush(g);
    p.drawPath(body);
    p.setBrush(c.lighter(150));
    p.drawEllipse(QRectF(disc.left(), disc.top(), disc.width(), e));
  }
}

// Radio waves from a point, opening to the right.
void Waves(QPainter& p, QPointF o, QColor c, int n, qreal step) {
  for (int i = 1; i <= n; ++i) {
    QColor k = c;
    k.setAlphaF(1.0 - 0.22 * i);
    p.setPen(QPen(k, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    const qreal r = step * i;
    p.drawArc(QRectF(o.x() - r, o.y() - r, 2 * r, 2 * r), -45 * 16, 90 * 16);
  }
}

QImage Header() {
  QImage img(260, 64, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient bg(0, 0, img.width(), 0);
  bg.setColorAt(0, QColor(255, 255, 255));
  bg.setColorAt(0.35, QColor(214, 232, 248));
  bg.setColorAt(1, QColor(38, 96, 160));
  p.fillRect(img.rect(), bg);
  // A faint grid of table rows behind.
  p.setPen(QPen(QColor(255, 255, 255, 70), 1));
  for (int y = 8; y < img.height(); y += 8) p.drawLine(90, y, img.width(), y);
  // A handheld terminal talking to the drum.
  QRectF term(110, 14, 22, 38);
  p.setPen(QPen(QColor(40, 50, 60), 1.2));
  p.setBrush(QColor(70, 80, 92));
  p.drawRoundedRect(term, 4, 4);
  p.setBrush(QColor(170, 220, 190));
  p.drawRect(QRectF(term.left() + 4, term.top() + 5, term.width() - 8, 11));
  p.setBrush(QColor(200, 205, 210));
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      p.drawRect(QRectF(term.left() + 4 + c * 5.3, term.top() + 20 + r * 5.5, 3.6, 3.4));
  p.drawLine(QPointF(term.right() - 5, term.top()), QPointF(term.right() - 5, term.top() - 7));
  Waves(p, QPointF(term.right() + 2, term.top() + 8), QColor(250, 160, 40), 3, 8);
  Drum(p, QRectF(188, 8, 44, 50), QColor(235, 170, 60));
  return img;
}

QImage Logo() {
  QImage img(48, 48, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient g(QPointF(18, 16), 34);
  g.setColorAt(0, QColor(90, 160, 230));
  g.setColorAt(1, QColor(25, 70, 140));
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawRoundedRect(QRectF(3, 3, 42, 42), 9, 9);
  Drum(p, QRectF(10, 12, 17, 24), QColor(240, 240, 245));
  Waves(p, QPointF(28, 24), QColor(255, 190, 70), 2, 6.5);
  return img;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  QGuiApplication app(argc, argv);
  const QString dir = QString::fromLocal8Bit(argv[1]);
  const bool ok =
      Header().save(dir + "/header.jpg", "JPEG", 92) && Logo().save(dir + "/logo.jpg", "JPEG", 92);
  if (!ok) std::fprintf(stderr, "cannot write the pictures into %s\n", argv[1]);
  return ok ? 0 : 1;
}
