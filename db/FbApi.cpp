#include "db/FbApi.h"

#include <algorithm>
#include <clocale>
#include <cstring>
#ifndef _WIN32
#include <langinfo.h>
#endif

namespace patrimonio::fb {

using namespace Firebird;

namespace {

// The client turns file names between UTF-8 and the process's character type: on Unix that must
// be a UTF-8 one, or an accented path cannot be opened. Qt sets the same when it starts.
IMaster* startClient() {
#ifndef _WIN32
    const auto utf8 = [] { return std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0; };
    if (!utf8()) std::setlocale(LC_CTYPE, "");
    if (!utf8()) std::setlocale(LC_CTYPE, "C.UTF-8");
#endif
    return fb_get_master_interface();
}

// Whether any gds code of a status vector, wherever it stands, is one of `codes`.
template <size_t N>
bool anyCodeOf(const intptr_t* v, const intptr_t (&codes)[N]) {
    while (*v != isc_arg_end) {
        const intptr_t kind = v[0];
        if (kind == isc_arg_gds &&
            std::find(std::begin(codes), std::end(codes), v[1]) != std::end(codes))
            return true;
        // isc_arg_cstring carries a length and a pointer; every other argument one value.
        v += kind == isc_arg_cstring ? 3 : 2;
    }
    return false;
}

// Codes that say the attachment itself is gone.
bool saysConnectionLost(const intptr_t* v) {
    static const intptr_t lost[] = {isc_network_error,      isc_net_read_err, isc_net_write_err,
                                    isc_lost_db_connection, isc_conn_lost,    isc_att_shutdown,
                                    isc_shutdown,           isc_bad_db_handle};
    return anyCodeOf(v, lost);
}

}  // namespace

bool refusesTheRow(const intptr_t* status) {
    static const intptr_t rowCodes[] = {
        // constraints
        isc_unique_key_violation, isc_no_dup, isc_foreign_key, isc_primary_key_ref,
        isc_foreign_key_notfound, isc_not_valid, isc_not_valid_for_var, isc_not_valid_for,
        isc_check_constraint, isc_integ_fail,
        // values the column cannot take
        isc_arith_except, isc_convert_error, isc_string_truncation, isc_numeric_out_of_range,
        isc_date_range_exceeded, isc_invalid_date_val, isc_transliteration_failed,
        isc_malformed_string, isc_exception_integer_overflow, isc_exception_float_overflow,
        isc_exception_integer_divide_by_zero, isc_exception_float_divide_by_zero,
        isc_expression_eval_err,
        // exceptions raised by the table's triggers
        isc_except, isc_except2,
        // the row was changed by another transaction meanwhile
        isc_update_conflict};
    return !saysConnectionLost(status) && anyCodeOf(status, rowCodes);
}

IMaster* master() {
    static IMaster* const m = startClient();
    return m;
}

IUtil* util() {
    static IUtil* const u = master()->getUtilInterface();
    return u;
}

DatabaseError toDatabaseError(const FbException& e) {
    IStatus* st = e.getStatus();
    char text[4096] = {};
    util()->formatStatus(text, sizeof text - 1, st);
    char state[FB_SQLSTATE_SIZE] = {};
    fb_sqlstate(state, st->getErrors());
    const intptr_t* v = st->getErrors();
    long code = (v[0] == isc_arg_gds) ? static_cast<long>(v[1]) : 0;
    return DatabaseError(QString::fromLocal8Bit(text).trimmed(), QString::fromLatin1(state), code,
                         saysConnectionLost(v));
}

Transaction::~Transaction() {
    if (!t_) return;
    // Dropped without a commit: undo. A failure here leaves nothing better to do than release.
    IStatus* st = master()->getStatus();
    CheckStatusWrapper w(st);
    t_->rollback(&w);
    if (w.getState() & IStatus::STATE_ERRORS) t_->release();
    st->dispose();
}

void Transaction::commit() {
    Status st;
    guarded([&] { t_->commit(&st); });
    t_ = nullptr;
}

void Transaction::rollback() {
    Status st;
    guarded([&] { t_->rollback(&st); });
    t_ = nullptr;
}

Statement::Statement(IAttachment* att, ITransaction* tra, const QByteArray& text,
                     unsigned dialect) {
    Status st;
    s_ =
        att->prepare(&st, tra, 0, text.constData(), dialect, IStatement::PREPARE_PREFETCH_METADATA);
}

void Statement::free(ThrowStatusWrapper* st) {
    if (!s_) return;
    s_->free(st);
    s_ = nullptr;
}

void Statement::abandon() noexcept {
    if (s_) s_->release();
    s_ = nullptr;
}

void Statement::drop() noexcept {
    if (!s_) return;
    IStatus* st = master()->getStatus();
    CheckStatusWrapper w(st);
    s_->free(&w);
    if (w.getState() & IStatus::STATE_ERRORS) s_->release();
    s_ = nullptr;
    st->dispose();
}

Transaction startReadCommitted(IAttachment* att, bool readOnly) {
    const unsigned char tpb[] = {
        isc_tpb_version3, isc_tpb_read_committed, isc_tpb_rec_version, isc_tpb_wait,
        static_cast<unsigned char>(readOnly ? isc_tpb_read : isc_tpb_write)};
    Status st;
    return guarded([&] { return Transaction(att->startTransaction(&st, sizeof tpb, tpb)); });
}

QByteArray readBlob(IAttachment* att, ITransaction* tra, ISC_QUAD id) {
    Status st;
    return guarded([&] {
        Ref<IBlob> blob(att->openBlob(&st, tra, &id, 0, nullptr));
        const unsigned char items[] = {isc_info_blob_total_length};
        unsigned char info[32] = {};
        blob->getInfo(&st, sizeof items, items, sizeof info, info);
        qsizetype total = -1;
        if (info[0] == isc_info_blob_total_length) {
            const short n = static_cast<short>(isc_portable_integer(info + 1, 2));
            total = static_cast<qsizetype>(isc_portable_integer(info + 3, n));
        }
        constexpr qsizetype kSegment = 65535;
        // One buffer of the BLOB's full length; segments land in it directly. Should the
        // client not tell the length, the buffer grows as segments come.
        QByteArray out(std::max<qsizetype>(total, 0), Qt::Uninitialized);
        qsizetype used = 0;
        while (total < 0 || used < total) {
            if (used == out.size()) out.resize(used + kSegment);
            unsigned got = 0;
            const unsigned ask = static_cast<unsigned>(std::min(out.size() - used, kSegment));
            const int r = blob->getSegment(&st, ask, out.data() + used, &got);
            if (r != IStatus::RESULT_OK && r != IStatus::RESULT_SEGMENT) break;
            used += got;
        }
        out.truncate(used);
        blob->close(&st);
        blob.release();
        return out;
    });
}

ISC_QUAD writeBlob(IAttachment* att, ITransaction* tra, const QByteArray& bytes) {
    Status st;
    return guarded([&] {
        ISC_QUAD id{};
        Ref<IBlob> blob(att->createBlob(&st, tra, &id, 0, nullptr));
        const char* p = bytes.constData();
        qsizetype left = bytes.size();
        while (left > 0) {
            const unsigned n = static_cast<unsigned>(std::min<qsizetype>(left, 32768));
            blob->putSegment(&st, n, p);
            p += n;
            left -= n;
        }
        blob->close(&st);
        blob.release();
        return id;
    });
}

Transaction startReadSnapshot(Firebird::IAttachment* att) {
    const unsigned char tpb[] = {isc_tpb_version3, isc_tpb_concurrency, isc_tpb_read,
                                 isc_tpb_nowait};
    Status st;
    return Transaction(att->startTransaction(&st, sizeof tpb, tpb));
}

void closeQuietly(Ref<Firebird::IResultSet>& rs) {
    if (!rs) return;
    Firebird::IStatus* s = master()->getStatus();
    Firebird::CheckStatusWrapper w(s);
    rs->close(&w);
    if (w.getState() & Firebird::IStatus::STATE_ERRORS) {
        rs.reset();
    } else {
        rs.release();
    }
    s->dispose();
}

}  // namespace patrimonio::fb
