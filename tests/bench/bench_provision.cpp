// Times full provisioning runs through the program's own run: connect, create the schema, check
// it, compute the digest and add the account, one fresh database per run. Prints one line
// per run, "<database> <milliseconds>"; scripts/bench.sh turns them into medians.
//
//   quorvo-bench-provision HOST USER PASSWORD DATABASE...
#include "app/provisioningrun.h"
#include "settings/connectionsettings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QTextStream>

namespace {

const QString AccountName = QStringLiteral("benchadmin");
const QString AccountPassword = QStringLiteral("bench-password");

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (args.size() < 5) {
        err << "usage: quorvo-bench-provision HOST USER PASSWORD DATABASE..." << Qt::endl;
        return 2;
    }
    ConnectionSettings::dbHost = args.at(1);
    ConnectionSettings::dbUser = args.at(2);
    ConnectionSettings::dbPassword = args.at(3);

    for (const QString &database : args.mid(4)) {
        QElapsedTimer timer;
        timer.start();
        qint64 nanoseconds = 0;
        RunResult result;
        {
            // In this thread: the run reports before it returns.
            ProvisioningRun run(QStringLiteral("bench"), database);
            QObject::connect(&run, &ProvisioningRun::finished, [&](const RunResult &r) {
                // The run ends with the account stored; closing the connection is not part of it.
                nanoseconds = timer.nsecsElapsed();
                result = r;
            });
            run.run(AccountName, AccountPassword);
        }
        if (!result.added) {
            err << "the run on " << database << " failed with code " << result.error << ": "
                << result.reason << Qt::endl;
            return 1;
        }
        out << database << ' ' << QString::number(nanoseconds / 1e6, 'f', 2) << Qt::endl;
    }
    return 0;
}
