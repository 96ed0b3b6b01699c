#include "automation/ole/PropertyStreamCopy.h"

#include "automation/EngineError.h"
#include "automation/ole/CompoundFile.h"

#include <QFile>

namespace gm::ole {

void copyPropertyStreams(const QString &from, const QString &to)
{
    const CompoundEntry source = CompoundFile::readFile(from);
    CompoundEntry target = CompoundFile::readFile(to);
    bool changed = false;
    for (const QByteArray &name :
        {QByteArrayLiteral("\005SummaryInformation"), QByteArrayLiteral("\005DocumentSummaryInformation")}) {
        const CompoundEntry *original = source.child(name);
        CompoundEntry *written = target.child(name);
        if (original && written) {
            changed = changed || written->data != original->data;
            written->data = original->data;
        } else if (original) {
            target.children.push_back(*original);
            changed = true;
        }
    }
    if (!changed)
        return;
    const QByteArray bytes = CompoundFile::write(target);
    QFile file(to);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw EngineError(ErrorCode::WriteFailed, to);
}

} // namespace gm::ole
