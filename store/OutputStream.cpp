#include "OutputStream.h"

#include <QStringEncoder>

OutputStream::~OutputStream() = default;

static const char* CutAtNul(const char* begin, const char* end)
{
    // U+0000 encodes as a single 0 byte and no other character contains one.
    const void* nul = begin != end ? std::memchr(begin, 0, size_t(end - begin)) : nullptr;
    return nul ? static_cast<const char*>(nul) : end;
}

bool OutputStream::WriteString(const QString& value)
{
    // A UTF-16 code unit becomes at most 3 UTF-8 bytes. When the window has
    // room for the worst case, encode straight into it behind the count.
    const qint64 worst = 4 + 3 * qint64(value.size());
    // Text with a broken surrogate pair goes the slow way, so that it is
    // always encoded exactly as QString::toUtf8 does.
    if (m_outEnd - m_outCur >= worst) {
        QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
        char* const start = m_outCur + 4;
        const char* end = CutAtNul(start, encoder.appendToBuffer(start, value));
        if (!encoder.hasError()) {
            qToLittleEndian(quint32(end - start), m_outCur);
            m_outCur = const_cast<char*>(end);
            return true;
        }
    }
    const QByteArray utf8 = value.toUtf8();
    const char* end = CutAtNul(utf8.constData(), utf8.constData() + utf8.size());
    return WriteRun(utf8.constData(), size_t(end - utf8.constData()));
}
