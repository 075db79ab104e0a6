#include "BareClient.h"

#include "TestDatabase.h"

using namespace Firebird;

namespace patrimonio::bench {

BareClient::BareClient()
    : master_(fb_get_master_interface()), status_(master_->getStatus()), st_(status_) {}

BareClient::~BareClient() {
    status_->dispose();
}

IAttachment* BareClient::attach(const QString& database) {
    IXpbBuilder* dpb =
        master_->getUtilInterface()->getXpbBuilder(&st_, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&st_, isc_dpb_user_name, "SYSDBA");
    dpb->insertString(&st_, isc_dpb_password, test::kPassword.toUtf8().constData());
    const QByteArray name = database.toUtf8();
    IProvider* provider = master_->getDispatcher();
    IAttachment* attachment = nullptr;
    try {
        attachment = provider->attachDatabase(&st_, name.constData(), dpb->getBufferLength(&st_),
                                              dpb->getBuffer(&st_));
    } catch (...) {
        dpb->dispose();
        provider->release();
        throw;
    }
    dpb->dispose();
    provider->release();
    return attachment;
}

ITransaction* BareClient::begin(IAttachment* attachment, Access access) {
    const unsigned char tpb[] = {
        isc_tpb_version3, isc_tpb_read_committed, isc_tpb_rec_version, isc_tpb_wait,
        static_cast<unsigned char>(access == Access::ReadOnly ? isc_tpb_read : isc_tpb_write)};
    return attachment->startTransaction(&st_, sizeof tpb, tpb);
}

std::vector<Slot> slotsOf(IMessageMetadata* meta, ThrowStatusWrapper& st) {
    std::vector<Slot> found(meta->getCount(&st));
    for (unsigned i = 0; i < found.size(); ++i) {
        const unsigned type = meta->getType(&st, i) & ~1u;
        found[i] = {meta->getOffset(&st, i), meta->getNullOffset(&st, i),
                    meta->getLength(&st, i) + (type == SQL_VARYING ? 2u : 0u)};
    }
    return found;
}

}  // namespace patrimonio::bench
