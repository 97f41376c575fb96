#include "EmbeddedStore.h"

#include <cstring>

TSkinCollectionItem::TSkinCollectionItem(TKey, TSkinCollection& owner, int id)
    : FOwner(owner), FID(id), FName("SkinItem" + std::to_string(id)) {}

void TSkinCollectionItem::SetName(const std::string& value) {
    if (value == FName) return;
    for (const auto& other : FOwner.FItems)
        if (other.get() != this && other->FName == value)
            throw ESkinStoreError("The name " + value + " is already used.");
    FName = value;
}

void TSkinCollectionItem::Assign(const TSkinCollectionItem& source) {
    if (&source == this) return;
    SetName(source.FName);
    FData = source.FData;
}

TSkinCollectionItem& TSkinCollection::Add() {
    FItems.push_back(std::make_unique<TSkinCollectionItem>(TSkinCollectionItem::TKey{}, *this, FNextID++));
    return *FItems.back();
}

const TSkinCollectionItem* TSkinCollection::Find(const std::string& name) const {
    for (const auto& item : FItems)
        if (item->FName == name) return item.get();
    return nullptr;
}

void TSkinCollection::Delete(size_t i) {
    FItems.erase(FItems.begin() + static_cast<long>(i));
}

void TSkinCollection::Clear() {
    FItems.clear();
}

void TSkinCollection::Assign(const TSkinCollection& source) {
    if (&source == this) return;
    Clear();
    for (const auto& item : source.FItems) {
        TSkinCollectionItem& copy = Add();
        copy.FName = item->FName; // the source's names are already unique
        copy.FData = item->FData;
    }
}

namespace {

constexpr char kMagic[] = "TSkinStore\x01";
constexpr char kDataStream[] = "DataStream";

void PutU32(std::string& out, uint64_t v) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutText(std::string& out, const std::string& s) {
    PutU32(out, s.size());
    out += s;
}

struct TCursor {
    const std::string& In;
    size_t At = 0;
    uint32_t U32() {
        if (In.size() - At < 4) throw ESkinStoreError("The store data is damaged.");
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<uint32_t>(static_cast<unsigned char>(In[At + i])) << (8 * i);
        At += 4;
        return v;
    }
    std::string Text() {
        uint32_t n = U32();
        if (In.size() - At < n) throw ESkinStoreError("The store data is damaged.");
        std::string s = In.substr(At, n);
        At += n;
        return s;
    }
};

} // namespace

std::string TSkinStore::Write() const {
    std::string out(kMagic, sizeof kMagic - 1);
    PutU32(out, FStore.Count());
    for (size_t i = 0; i < FStore.Count(); ++i) {
        PutText(out, FStore.Items(i).GetName());
        PutText(out, kDataStream);
        PutText(out, FStore.Items(i).Data());
    }
    return out;
}

void TSkinStore::Read(const std::string& bytes) {
    if (bytes.compare(0, sizeof kMagic - 1, kMagic) != 0) throw ESkinStoreError("The store data is damaged.");
    TCursor c{bytes, sizeof kMagic - 1};
    uint32_t count = c.U32();
    TSkinCollection loaded;
    for (uint32_t i = 0; i < count; ++i) {
        std::string name = c.Text();
        if (c.Text() != kDataStream) throw ESkinStoreError("The store data is damaged.");
        TSkinCollectionItem& item = loaded.Add();
        item.SetName(name);
        item.SetData(c.Text());
    }
    if (c.At != bytes.size()) throw ESkinStoreError("The store data is damaged.");
    FStore.Assign(loaded);
}
