#pragma once

// Shared by the fuzz targets: a scratch folder for the files a loader reads, and checks
// that stop the run with a readable reason when an invariant breaks.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace verticora::fuzz {

// Stops the run (libFuzzer keeps the input) when an invariant does not hold.
inline void require(bool holds, const char* invariant)
{
    if (holds)
        return;
    std::fprintf(stderr, "invariant broken: %s\n", invariant);
    std::abort();
}

// One folder per process, on a memory file system when there is one; each input removes
// the files it made, so that every input starts from an empty folder.
class ScratchFolder {
public:
    ScratchFolder() : m_dir(QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm/verticora-fuzz-XXXXXX") : QString()) {}

    [[nodiscard]] QString file(const QString& name) const { return m_dir.filePath(name); }

    void write(const QString& name, const QByteArray& bytes) const
    {
        QFile out(file(name));
        require(out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(bytes) == bytes.size(),
                "the scratch file can be written");
    }
    [[nodiscard]] QByteArray read(const QString& name) const
    {
        QFile in(file(name));
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
};

// Removes the named files of a scratch folder when it goes, whatever the input did.
class Leftovers {
public:
    Leftovers(const ScratchFolder& folder, QStringList names) : m_folder(folder), m_names(std::move(names)) {}
    ~Leftovers()
    {
        for (const QString& name : m_names)
            QFile::remove(m_folder.file(name));
    }
    Leftovers(const Leftovers&) = delete;
    Leftovers& operator=(const Leftovers&) = delete;

private:
    const ScratchFolder& m_folder;
    QStringList m_names;
};

inline QByteArray bytesOf(const std::uint8_t* data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// One input written as the data file `name` of the scratch folder, with the name a store
// sets it aside under when it refuses it (at the fixed time `clock`); both files are
// removed when this goes.
class InputFile {
public:
    static constexpr double clock = 1'700'000'000;

    InputFile(const ScratchFolder& folder, const QString& name, const std::uint8_t* data, std::size_t size)
        : bytes(bytesOf(data, size)), path(folder.file(name)),
          asideName(QStringLiteral("%1.unreadable-%2.json").arg(name.section(u'.', 0, 0)).arg(qint64(clock))),
          m_folder(folder), m_name(name), m_leftovers(folder, {name, asideName})
    {
        folder.write(name, bytes);
    }

    // What the data file holds now.
    [[nodiscard]] QByteArray current() const { return m_folder.read(m_name); }
    void replace(const QByteArray& content) const { m_folder.write(m_name, content); }

    const QByteArray bytes;
    const QString path;
    const QString asideName;

private:
    const ScratchFolder& m_folder;
    QString m_name;
    Leftovers m_leftovers;
};

} // namespace verticora::fuzz
