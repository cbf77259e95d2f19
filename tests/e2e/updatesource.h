#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// A local update source: packages zipped from file trees, and a description
// that offers them with their real sizes and MD5 values.
class UpdateSource final {
public:
    using Tree = QMap<QString, QByteArray>; // relative path -> content

    explicit UpdateSource(QString directory);

    void addSoftware(const QString& filename, const Tree& files);
    void addFirmware(const QString& filename, const Tree& files);
    // Flips one bit in the middle of a package added before.
    void damage(const QString& filename) const;
    // Offers the packages for device; corruptMd5 announces a wrong digest.
    void publish(const QByteArray& device = "RX481", bool corruptMd5 = false) const;
    // Serves content as the description, whatever it is.
    void publishDescription(const QByteArray& content) const;
    // Describes version 2.0 of one package (kind "--software" or "--firmware")
    // with a delta from base, as a publisher would, with the publisher's tool.
    bool describeWithDelta(const QString& tool, const QString& kind, const QString& package,
                           const QString& base) const;
    // The same for packages given as the tool takes them ("--software", a
    // package, "--delta-from", its base, "--firmware", ...).
    bool describe(const QString& tool, const QStringList& packages) const;

    // Offers the packages at baseUrl + "/" + filename instead of as local files.
    void servePackagesFrom(const QString& baseUrl) { packageBaseUrl = baseUrl; }

    QString url() const { return "file://" + directory; }
    QString packagePath(const QString& filename) const { return directory + '/' + filename; }

private:
    struct Package {
        QByteArray packageClass;
        QString filename;
    };
    void add(const QByteArray& packageClass, const QString& filename, const Tree& files);
    QByteArray element(const Package& package, bool corruptMd5) const;

    QString directory;
    QString packageBaseUrl;
    QList<Package> packages;
};

void writeTree(const QString& root, const UpdateSource::Tree& files);
