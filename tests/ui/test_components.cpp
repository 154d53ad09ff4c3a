#include "control_states.h"
#include "sample_history.h"
#include "support/test_main.h"
#include "ui/components/disclosure_header.h"
#include "ui/components/elided_label.h"
#include "ui/components/history_section.h"
#include "ui/components/link_row.h"
#include "ui/components/transfer_status_view.h"
#include "ui/icons.h"
#include "ui/theme.h"

#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

double luminance(const QColor &c)
{
    const auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

// The strongest contrast ratio of any drawn pixel of `w` against its background at the right
// end, which the short texts below leave empty: the contrast of its text.
double textContrast(QWidget *window, QWidget *w)
{
    const QImage img = window->grab(QRect(w->mapTo(window, QPoint()), w->size())).toImage();
    const double under = luminance(img.pixelColor(img.width() - 3, img.height() / 2));
    double best = 1;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const double l = luminance(img.pixelColor(x, y));
            best = std::max(best, (std::max(l, under) + 0.05) / (std::min(l, under) + 0.05));
        }
    return best;
}

} // namespace

class TestComponents : public QObject {
    Q_OBJECT

private slots:
    void historySectionShowsAtMostTheLimit()
    {
        HistorySection section(5);
        section.setExpanded(true);
        section.show();

        section.setItems(sampleHistory(3));
        QCOMPARE(section.rows().size(), 3);
        QVERIFY(section.footerText()->text().isEmpty());
        QVERIFY(section.clearButton()->isVisible());
        QVERIFY(!section.placeholder()->isVisible());

        section.setItems(sampleHistory(8));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(section.rows().size(), 5);
        QCOMPARE(section.header()->trailingText(), QStringLiteral("8"));
        QCOMPARE(QAccessible::queryAccessibleInterface(section.header())->text(QAccessible::Name),
                 QStringLiteral("История загрузок, 8"));
        QCOMPARE(section.footerText()->text(), QStringLiteral("Показаны последние 5 из 8"));

        section.setItems({});
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(section.rows().size(), 0);
        QVERIFY(section.header()->trailingText().isEmpty());
        QVERIFY(!section.clearButton()->isVisible());
        QVERIFY(section.placeholder()->isVisible());
    }

    void historySectionPassesTheRightEntry()
    {
        HistorySection section(5);
        const auto items = sampleHistory(4);
        section.setItems(items);
        QSignalSpy reveal(&section, &HistorySection::revealRequested);
        QSignalSpy remove(&section, &HistorySection::removeRequested);
        QSignalSpy clear(&section, &HistorySection::clearRequested);
        QSignalSpy expanded(&section, &HistorySection::expandedChanged);

        const QList<QAction *> menu =
            section.rows().at(2)->findChild<QToolButton *>()->menu()->actions();
        menu.first()->trigger();
        menu.last()->trigger();
        QCOMPARE(reveal.size(), 1);
        QCOMPARE(reveal.first().first().value<DownloadHistoryItem>().id, items.at(2).id);
        QCOMPARE(remove.first().first().value<DownloadHistoryItem>().id, items.at(2).id);

        section.clearButton()->click();
        QCOMPARE(clear.size(), 1);
        QVERIFY(!section.isExpanded());
        QTest::mouseClick(section.header(), Qt::LeftButton);
        QVERIFY(section.isExpanded());
        QTest::keyClick(section.header(), Qt::Key_Return);
        QVERIFY(!section.isExpanded());
        QCOMPARE(expanded.size(), 2);
    }

    void statusViewShowsOnlyWhatItHas()
    {
        TransferStatusView view(Theme::blue());
        view.resize(300, 400);
        view.show();
        const auto shown = [&] {
            return controlStates({{"bar", view.bar()},
                                  {"spinner", view.spinner()},
                                  {"detail", view.detailLabel()},
                                  {"error", view.errorLabel()}});
        };
        view.setState(std::nullopt, false, QStringLiteral("Готов"), QString());
        QCOMPARE(shown(), QString());
        view.setState(0.0, true, QStringLiteral("Идёт"), QStringLiteral("Скачано: 1 МБ"));
        QCOMPARE(shown(), "bar detail"); // a present progress of 0 is an empty bar
        QCOMPARE(view.bar()->value(), 0);
        view.setState(std::nullopt, true, QStringLiteral("Идёт"), QString(), QString());
        QCOMPARE(shown(), "spinner");
        view.setState(0.5, false, QStringLiteral("Ошибка"), QString(),
                      QStringLiteral("один\nдва\nтри\nчетыре"));
        QCOMPARE(shown(), "bar error");
        QCOMPARE(view.bar()->value(), 500);
        const QString error = view.errorLabel()->shownText();
        QCOMPARE(error.count(u'\n'), 2);
        QVERIFY(!error.contains(QStringLiteral("четыре")) || error.contains(QChar(0x2026)));
    }

    // A locked link and a disabled main button stay readable (4.5:1, as for any text).
    void disabledControlsStayLegible()
    {
        QWidget window;
        auto *link = new LinkRow(QStringLiteral("Ссылка"), &window);
        link->field()->setText(QStringLiteral("https://disk.yandex.ru/d/x"));
        auto *button = new QPushButton(QStringLiteral("Скачать"), &window);
        Theme::makeProminent(button, Theme::blue());
        auto *column = new QVBoxLayout(&window);
        column->addWidget(link);
        column->addWidget(button, 0, Qt::AlignLeft);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (QWidget *control : std::initializer_list<QWidget *>{link->field(), button}) {
            control->setEnabled(false);
            const double contrast = textContrast(&window, control);
            QVERIFY2(contrast >= 4.5, qPrintable(QString::number(contrast)));
        }
    }

    // Every bundled icon is drawn in the asked colour: some pixel carries it.
    void everyIconTakesTheAskedColour()
    {
        QVERIFY(Icons::exists(QStringLiteral("AppIcon"))); // also registers the resources
        const QStringList files = QDir(QStringLiteral(":/icons")).entryList({"*.svg"});
        QVERIFY(files.size() >= 20);
        for (const QString &file : files) {
            const QImage img =
                Icons::pixmap(QFileInfo(file).completeBaseName(), Theme::green(), 24).toImage();
            bool coloured = false;
            for (int y = 0; y < img.height() && !coloured; ++y)
                for (int x = 0; x < img.width() && !coloured; ++x)
                    coloured = img.pixelColor(x, y).alpha() > 200
                               && img.pixelColor(x, y).rgb() == Theme::green().rgb();
            QVERIFY2(coloured, qPrintable(file));
        }
    }
};

TOVRIN_TEST(TestComponents);
#include "test_components.moc"
