#include "db/RowSource.h"

namespace patrimonio::detail {

using namespace Firebird;

QueryRows::QueryRows(Connection::Impl& c, const QByteArray& text) : tra_(c.begin(true)) {
    fb::Status st;
    stmt_ = fb::Statement(c.att(), tra_.get(), text, c.dialect);
    out_.reset(stmt_->getOutputMetadata(&st));
}

bool QueryRows::fetch(unsigned char* row) {
    fb::Status st;
    if (!rs_) rs_.reset(stmt_->openCursor(&st, tra_.get(), nullptr, nullptr, out_.get(), 0));
    return rs_->fetchNext(&st, row) == IStatus::RESULT_OK;
}

void QueryRows::finish() {
    fb::Status st;
    if (rs_) {
        rs_->close(&st);
        rs_.release();
    }
    stmt_.free(&st);
    tra_.commit();
}

bool CursorPage::fetch(unsigned char* row) {
    if (left_ <= 0 || !cursor_.fetch(row)) return false;
    --left_;
    return true;
}

}  // namespace patrimonio::detail
