// A store of named binary items that the program carries inside itself (the language files).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class TSkinCollection;

class ESkinStoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TSkinCollectionItem {
    struct TKey {
        explicit TKey() = default;
    };

  public:
    // Only a collection makes items (TKey is its alone).
    TSkinCollectionItem(TKey, TSkinCollection& owner, int id);

    const std::string& GetName() const { return FName; }
    // Refuses a name another item of the collection already has (letter case significant).
    void SetName(const std::string& value);
    int ID() const { return FID; }
    std::string DisplayName() const { return FName; }

    const std::string& Data() const { return FData; }
    void SetData(std::string data) { FData = std::move(data); }
    int64_t DataSize() const { return static_cast<int64_t>(FData.size()); }
    // A design-time hook: always "Load Skin", and writing it does nothing.
    std::string GetSkinData() const { return "Load Skin"; }
    void SetSkinData(const std::string&) {}

    void Assign(const TSkinCollectionItem& source);

  private:
    friend class TSkinCollection;
    TSkinCollection& FOwner;
    int FID;
    std::string FName;
    std::string FData;
};

class TSkinCollection {
  public:
    TSkinCollection() = default;
    TSkinCollection(const TSkinCollection&) = delete;
    TSkinCollection& operator=(const TSkinCollection&) = delete;

    TSkinCollectionItem& Add();
    size_t Count() const { return FItems.size(); }
    TSkinCollectionItem& Items(size_t i) { return *FItems.at(i); }
    const TSkinCollectionItem& Items(size_t i) const { return *FItems.at(i); }
    const TSkinCollectionItem* Find(const std::string& name) const;
    void Delete(size_t i);
    void Clear();
    // Replaces the items by copies of the source's items.
    void Assign(const TSkinCollection& source);

  private:
    friend class TSkinCollectionItem;
    std::vector<std::unique_ptr<TSkinCollectionItem>> FItems;
    int FNextID = 0;
};

class TSkinStore {
  public:
    TSkinCollection& Store() { return FStore; }
    const TSkinCollection& Store() const { return FStore; }
    void SetStore(const TSkinCollection* source) {
        if (source) FStore.Assign(*source);
    }

    // The persisted form: every item's Name and its "DataStream" block. Read throws
    // ESkinStoreError on damaged input and leaves the store as it was.
    std::string Write() const;
    void Read(const std::string& bytes);

  private:
    TSkinCollection FStore;
};
