// What putting a finished body in place costs: a body of the given size is written through a
// DownloadFile, then committed (flushed to disk, renamed over its name). Prints both spans.
#include "core/transfer/FileLife.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_commit <folder> <MiB> [rounds]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const qint64 mib = QByteArray(argv[2]).toLongLong();
    const int rounds = argc > 3 ? QByteArray(argv[3]).toInt() : 3;
    const QByteArray piece(64 * 1024, 'q');
    for (int round = 1; round <= rounds; ++round) {
        DownloadFile file;
        const QString target = folder + QStringLiteral("/bench-commit-%1.bin").arg(round);
        if (!file.Reserve(target) || !file.StartBody()) {
            std::fprintf(stderr, "cannot start: %s\n", qPrintable(file.Error()));
            return 1;
        }
        QElapsedTimer timer;
        timer.start();
        for (qint64 written = 0; written < mib * 1024 * 1024; written += piece.size()) {
            if (!file.Write(piece)) {
                std::fprintf(stderr, "write failed: %s\n", qPrintable(file.Error()));
                return 1;
            }
        }
        const double writing = timer.nsecsElapsed() / 1e6;
        timer.restart();
        if (!file.Commit(mib * 1024 * 1024)) {
            std::fprintf(stderr, "commit failed: %s\n", qPrintable(file.Error()));
            return 1;
        }
        const double commit = timer.nsecsElapsed() / 1e6;
        std::printf("%lld MiB: writing %.1f ms, flush and rename %.1f ms\n",
                    static_cast<long long>(mib), writing, commit);
        std::remove(qPrintable(target));
    }
    return 0;
}
