#include "db/ServiceManager.h"

#include <QThread>
#include <algorithm>

#include "core/Errors.h"
#include "db/FbApi.h"

namespace patrimonio {

using namespace Firebird;

namespace {

// The size of the answers asked for. One answer carries at most 64 KB (its length is two
// bytes), but answers that large made a streamed backup about three times slower than 8 KB
// ones on a 100 MB database (bench/db/backup_bench).
constexpr unsigned kAnswerBytes = 8192;
// The most this process hands the server in one call (its length is two bytes too, and the
// whole call must fit in 64 KB).
constexpr qint64 kSendBytes = 60000;
// How long the server may hold one answer back while it has nothing to say: the stop check and
// the server's death are seen at least this often.
constexpr unsigned char kWaitSeconds = 1;

struct Disposed {
    IXpbBuilder* b;
    ~Disposed() { b->dispose(); }
};

int littleEndian(const unsigned char* p, int bytes) {
    return isc_portable_integer(p, static_cast<short>(bytes));
}

}  // namespace

ServerDatabase ServerDatabase::of(const QString& databaseString) {
    // "host/port:path" or "host:path"; a drive letter ("C:") or a leading slash is a bare path.
    const qsizetype colon = databaseString.indexOf(u':');
    const bool bare = colon < 0 || (colon == 1 && databaseString.at(0).isLetter()) ||
                      databaseString.startsWith(u'/') || databaseString.startsWith(u'\\') ||
                      databaseString.startsWith(u'.');
    if (bare) return {QString(), databaseString};
    return {databaseString.left(colon), databaseString.mid(colon + 1)};
}

bool ServerDatabase::onThisMachine() const {
    if (server.isEmpty()) return true;
    const QString host = server.section(u'/', 0, 0).toLower();
    return host == QStringLiteral("127.0.0.1") || host == QStringLiteral("localhost") ||
           host == QStringLiteral("::1");
}

ServiceRequest::ServiceRequest(unsigned char action) : action_(action) {}

ServiceRequest& ServiceRequest::text(unsigned char tag, const QByteArray& value) {
    items_.push_back({Item::Text, tag, value, 0});
    return *this;
}
ServiceRequest& ServiceRequest::number(unsigned char tag, unsigned value) {
    items_.push_back({Item::Number, tag, {}, value});
    return *this;
}
ServiceRequest& ServiceRequest::byte(unsigned char tag, unsigned char value) {
    items_.push_back({Item::Byte, tag, {}, value});
    return *this;
}
ServiceRequest& ServiceRequest::flag(unsigned char tag) {
    items_.push_back({Item::Flag, tag, {}, 0});
    return *this;
}

QString serviceAbandonedText() {
    return QStringLiteral("a espera pelo servidor foi interrompida");
}

struct ServiceManager::Impl {
    fb::Ref<IService> service;

    void start(fb::Status& st, const ServiceRequest& request) {
        IXpbBuilder* spb = fb::util()->getXpbBuilder(&st, IXpbBuilder::SPB_START, nullptr, 0);
        const Disposed dispose{spb};
        spb->insertTag(&st, request.action());
        for (const ServiceRequest::Item& item : request.items()) {
            switch (item.kind) {
                case ServiceRequest::Item::Text:
                    spb->insertString(&st, item.tag, item.text.constData());
                    break;
                case ServiceRequest::Item::Number:
                    spb->insertInt(&st, item.tag, static_cast<int>(item.number));
                    break;
                case ServiceRequest::Item::Byte: {
                    const unsigned char b = static_cast<unsigned char>(item.number);
                    spb->insertBytes(&st, item.tag, &b, 1);
                    break;
                }
                case ServiceRequest::Item::Flag:
                    spb->insertTag(&st, item.tag);
                    break;
            }
        }
        service->start(&st, spb->getBufferLength(&st), spb->getBuffer(&st));
    }

    enum class Output { Lines, Stream };

    // The one loop: asks for output (and says how much input the server wants) until an
    // answer brings nothing and says no more is coming, then waits while the server says the
    // action is still running. An error the action met raises from the server's answers.
    QStringList pump(const ServiceRequest& request, Output output,
                     const std::function<void(const char*, qint64)>& sink,
                     const std::function<qint64(char*, qint64)>& source, const StopCheck& stop) {
        QStringList lines;
        fb::guarded([&] {
            fb::Status st;
            start(st, request);
            std::vector<unsigned char> answer(kAnswerBytes);
            std::vector<unsigned char> outgoing;
            std::vector<char> input(static_cast<size_t>(kSendBytes));
            std::vector<unsigned char> items;
            items.push_back(output == Output::Stream ? isc_info_svc_to_eof : isc_info_svc_line);
            if (source) items.push_back(isc_info_svc_stdin);
            qint64 wanted = 0;
            for (;;) {
                if (stop && stop()) throw AppError(serviceAbandonedText());
                outgoing = {isc_info_svc_timeout, 4, 0, kWaitSeconds, 0, 0, 0};
                if (wanted > 0) {
                    const qint64 given =
                        std::max<qint64>(0, source(input.data(), std::min(wanted, kSendBytes)));
                    // Nothing given is the end of the input: the server reads its end too. The
                    // input goes as a "line" whatever it holds (Firebird 3 takes no other tag).
                    outgoing.push_back(isc_info_svc_line);
                    outgoing.push_back(static_cast<unsigned char>(given & 0xff));
                    outgoing.push_back(static_cast<unsigned char>((given >> 8) & 0xff));
                    outgoing.insert(outgoing.end(), input.begin(), input.begin() + given);
                }
                outgoing.push_back(isc_info_end);
                std::fill(answer.begin(), answer.end(), isc_info_end);
                service->query(&st, static_cast<unsigned>(outgoing.size()), outgoing.data(),
                               static_cast<unsigned>(items.size()), items.data(),
                               static_cast<unsigned>(answer.size()), answer.data());
                bool more = false;
                wanted = 0;
                const unsigned char* p = answer.data();
                const unsigned char* end = p + answer.size();
                while (p < end && *p != isc_info_end) {
                    const unsigned char item = *p++;
                    if (item == isc_info_truncated) {
                        // More is coming; nothing after this mark belongs to this answer.
                        more = true;
                        break;
                    }
                    if (item == isc_info_data_not_ready || item == isc_info_svc_timeout) {
                        // Nothing yet: the items after it (how much input the server wants)
                        // still count.
                        more = true;
                        continue;
                    }
                    if (item == isc_info_svc_stdin) {
                        if (end - p < 4) throw AppError(QStringLiteral("resposta cortada"));
                        wanted = littleEndian(p, 4);
                        p += 4;
                        if (wanted > 0) more = true;
                        continue;
                    }
                    if ((item != isc_info_svc_line && item != isc_info_svc_to_eof) || end - p < 2) {
                        throw AppError(
                            QStringLiteral("o servidor respondeu algo inesperado (%1)").arg(item));
                    }
                    const qint64 length = littleEndian(p, 2);
                    p += 2;
                    if (length > end - p) throw AppError(QStringLiteral("resposta cortada"));
                    if (length > 0) {
                        const char* bytes = reinterpret_cast<const char*>(p);
                        if (output == Output::Stream) {
                            sink(bytes, length);
                        } else {
                            lines << QString::fromUtf8(bytes, static_cast<qsizetype>(length));
                        }
                        more = true;
                    }
                    p += length;
                }
                if (!more) break;
            }
            // Ended only when the server says so.
            const unsigned char running[] = {isc_info_svc_running};
            for (;;) {
                service->query(&st, 0, nullptr, sizeof running, running,
                               static_cast<unsigned>(answer.size()), answer.data());
                if (answer[0] != isc_info_svc_running || littleEndian(answer.data() + 1, 4) == 0)
                    break;
                if (stop && stop()) throw AppError(serviceAbandonedText());
                QThread::msleep(50);
            }
        });
        return lines;
    }
};

ServiceManager::ServiceManager(const ServerDatabase& target, const QString& user,
                               const QString& password)
    : impl_(std::make_unique<Impl>()) {
    const QString manager =
        target.server.isEmpty() ? QStringLiteral("service_mgr") : target.server + ":service_mgr";
    fb::guarded([&] {
        fb::Status st;
        IXpbBuilder* attach = fb::util()->getXpbBuilder(&st, IXpbBuilder::SPB_ATTACH, nullptr, 0);
        const Disposed dispose{attach};
        attach->insertString(&st, isc_spb_user_name, user.toUtf8().constData());
        attach->insertString(&st, isc_spb_password, password.toUtf8().constData());
        // A bare path is this process's own file: the engine in this process does the work.
        if (target.server.isEmpty())
            attach->insertString(&st, isc_spb_config, "Providers=Engine12");
        fb::Ref<IProvider> provider(fb::master()->getDispatcher());
        impl_->service.reset(provider->attachServiceManager(&st, manager.toUtf8().constData(),
                                                            attach->getBufferLength(&st),
                                                            attach->getBuffer(&st)));
    });
}

ServiceManager::~ServiceManager() {
    if (!impl_->service) return;
    try {
        fb::Status st;
        impl_->service->detach(&st);
        impl_->service.release();
    } catch (const FbException&) {
        // A server gone away: the reference is dropped below all the same.
    }
}

QStringList ServiceManager::run(const ServiceRequest& request, const StopCheck& stop) {
    return impl_->pump(request, Impl::Output::Lines, {}, {}, stop);
}

void ServiceManager::receive(const ServiceRequest& request,
                             const std::function<void(const char*, qint64)>& sink,
                             const StopCheck& stop) {
    impl_->pump(request, Impl::Output::Stream, sink, {}, stop);
}

QStringList ServiceManager::send(const ServiceRequest& request,
                                 const std::function<qint64(char*, qint64)>& source,
                                 const StopCheck& stop) {
    return impl_->pump(request, Impl::Output::Lines, {}, source, stop);
}

}  // namespace patrimonio
