#pragma once

#include <QtTest/QtTest>

// Gives the test process its own temporary HOME and XDG folders before the application
// object exists, so no test touches the user's real settings, files or browser profile and
// test processes can run side by side. The folder is removed when the process ends.
void PrepareTestEnvironment();

// The temporary HOME made by PrepareTestEnvironment().
QString TestHome();

// The environment of a child process with `home` as its own HOME and XDG folders (made here),
// headless: the child's settings, journal and browser profile stay apart from the parent's.
QProcessEnvironment ChildEnvironment(const QString& home);

// QTEST_MAIN, with the private environment set up first.
#define QF_TEST_MAIN(TestObject)                                                                   \
    int main(int argc, char** argv) {                                                              \
        PrepareTestEnvironment();                                                                  \
        QApplication app(argc, argv);                                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }

// For tests of code that needs no widgets.
#define QF_TEST_GUILESS_MAIN(TestObject)                                                           \
    int main(int argc, char** argv) {                                                              \
        PrepareTestEnvironment();                                                                  \
        QCoreApplication app(argc, argv);                                                          \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
