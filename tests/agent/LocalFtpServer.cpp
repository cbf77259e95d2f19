#include "LocalFtpServer.h"

#include <QRegularExpression>

namespace {

constexpr char Script[] = R"(
import ctypes, logging, os, sys, threading
# Dies with the test (PR_SET_PDEATHSIG, SIGKILL) and after a minute at the latest.
ctypes.CDLL(None).prctl(1, 9)
timer = threading.Timer(60, os._exit, (0,))
timer.daemon = True
timer.start()
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer
logging.basicConfig(level=logging.INFO, stream=sys.stderr)
authorizer = DummyAuthorizer()
authorizer.add_anonymous(sys.argv[1])
ThrottledDTPHandler.write_limit = 256 * 1024
FTPHandler.authorizer = authorizer
FTPHandler.dtp_handler = ThrottledDTPHandler
server = FTPServer(("127.0.0.1", 0), FTPHandler)
print(server.address[1], flush=True)
server.serve_forever()
)";

} // namespace

LocalFtpServer::LocalFtpServer(const QString& directory)
{
    // The system's interpreter: pyftpdlib is a Debian package. Started directly,
    // so that killing the process kills the server itself.
    process_.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral("-c"), QString::fromLatin1(Script), directory});
    if (process_.waitForReadyRead(20000))
        port_ = static_cast<quint16>(process_.readLine().trimmed().toUInt());
}

LocalFtpServer::~LocalFtpServer()
{
    process_.kill();
    process_.waitForFinished();
}

QString LocalFtpServer::url() const
{
    return QStringLiteral("ftp://127.0.0.1:%1").arg(port_);
}

QList<qint64> LocalFtpServer::retrievedBytes()
{
    log_ += process_.readAllStandardError();
    static const QRegularExpression retrieved(QStringLiteral(" RETR .* bytes=(\\d+) "));
    QList<qint64> counts;
    for (const QRegularExpressionMatch& match : retrieved.globalMatch(QString::fromUtf8(log_)))
        counts.append(match.captured(1).toLongLong());
    return counts;
}
