#include "socketbio.h"

#include <cerrno>
#include <sys/socket.h>

namespace
{

struct BioState {
    int fd = -1;
    bool eof = false;
};

BioState* State(BIO* bio)
{
    return static_cast<BioState*>(BIO_get_data(bio));
}

bool WouldBlock(int e)
{
    return e == EAGAIN || e == EWOULDBLOCK || e == EINTR;
}

int BioWrite(BIO* bio, const char* data, int len)
{
    BIO_clear_retry_flags(bio);
    ssize_t n = ::send(State(bio)->fd, data, static_cast<size_t>(len), MSG_NOSIGNAL);
    if (n < 0 && WouldBlock(errno))
        BIO_set_retry_write(bio);
    return n < 0 ? -1 : static_cast<int>(n);
}

int BioRead(BIO* bio, char* out, int len)
{
    BIO_clear_retry_flags(bio);
    ssize_t n = ::recv(State(bio)->fd, out, static_cast<size_t>(len), 0);
    if (n == 0)
        State(bio)->eof = true;
    if (n < 0 && WouldBlock(errno))
        BIO_set_retry_read(bio);
    return n < 0 ? -1 : static_cast<int>(n);
}

long BioCtrl(BIO* bio, int cmd, long, void*)
{
    switch (cmd) {
    case BIO_CTRL_FLUSH:
        return 1;
    case BIO_CTRL_EOF:
        // OpenSSL asks this after a read of 0 to tell an end of stream from a retry.
        return State(bio)->eof ? 1 : 0;
    default:
        return 0;
    }
}

int BioCreate(BIO* bio)
{
    BIO_set_data(bio, new BioState);
    BIO_set_init(bio, 1);
    return 1;
}

int BioDestroy(BIO* bio)
{
    delete State(bio);
    BIO_set_data(bio, nullptr);
    return 1;
}

// The method table lives for the whole process; OpenSSL keeps a pointer to it in every BIO.
BIO_METHOD* Method()
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "mail socket");
        if (m != nullptr) {
            BIO_meth_set_write(m, BioWrite);
            BIO_meth_set_read(m, BioRead);
            BIO_meth_set_ctrl(m, BioCtrl);
            BIO_meth_set_create(m, BioCreate);
            BIO_meth_set_destroy(m, BioDestroy);
        }
        return m;
    }();
    return method;
}

} // namespace

BIO* NewSocketBio(int fd)
{
    BIO_METHOD* m = Method();
    if (m == nullptr)
        return nullptr;
    BIO* bio = BIO_new(m);
    if (bio != nullptr)
        State(bio)->fd = fd;
    return bio;
}
