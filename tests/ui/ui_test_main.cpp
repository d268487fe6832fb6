#include <gtest/gtest.h>

#include <QApplication>

// Widget tests run inside one QApplication on the offscreen platform (with the screens of
// a configuration file when one is named: "offscreen:configfile=FILE").
int main(int argc, char** argv) {
    if (!qEnvironmentVariable("QT_QPA_PLATFORM").startsWith(QLatin1String("offscreen")))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
