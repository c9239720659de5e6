// Two thousand backend runs in one process leave no descriptor and no thread behind.
#include <QTest>

#include "soak_runner.h"

class SoakTest : public QObject {
  Q_OBJECT

 private slots:
  void twoThousandRunsLeakNothing() {
    testing_support::SoakFigures figures = testing_support::runSoak(2000);
    QCOMPARE(figures.unexpected, 0);
    QCOMPARE(figures.descriptorsAfter, figures.descriptorsBefore);
    QCOMPARE(figures.threadsAfter, figures.threadsBefore);
    qInfo("resident memory: %ld KiB before, %ld KiB after %d runs", figures.residentKbBefore, figures.residentKbAfter,
          figures.runs);
  }
};

QTEST_MAIN(SoakTest)
#include "soak_test.moc"
