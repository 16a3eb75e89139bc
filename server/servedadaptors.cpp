#include "servedadaptors.h"

#include "postjobobject.h"

namespace Orvex {

PostJobInterfaceAdaptor::PostJobInterfaceAdaptor(PostJobObject *parent)
    : _PostJobAdaptor(parent) {}

void PostJobInterfaceAdaptor::WriteLog(const QString &SubName) {
    parent()->WriteLog(SubName);
}

void PostJobInterfaceAdaptor::WriteLog(const QString &SubName, const QString &Message) {
    parent()->WriteLog(SubName, Message);
}

EarlierPostJobInterfaceAdaptor::EarlierPostJobInterfaceAdaptor(PostJobObject *parent)
    : PostJob___v0Adaptor(parent) {}

void EarlierPostJobInterfaceAdaptor::WriteLog(const QString &SubName) {
    parent()->WriteLog(SubName);
}

void EarlierPostJobInterfaceAdaptor::WriteLog(const QString &SubName, const QString &Message) {
    parent()->WriteLog(SubName, Message);
}

ListingInterfaceAdaptor::ListingInterfaceAdaptor(PostJobObject *parent)
    : ListingAdaptor(parent) {}

} // namespace Orvex
