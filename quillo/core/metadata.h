// Metadata that travels with an image: raw JPEG marker segments and IPTC records.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quillo/platform/streams.h"

namespace quillo {

// JPEG marker segments (APPn, COM): a marker code and the payload without code and length.
class TQLMarkerList : public TObject {
 public:
  TQLMarkerList() = default;

  // Appends a marker holding a copy of Length bytes (0..65535).
  void AddMarker(uint8_t MarkerType, const void* Data, int32_t Length);
  void SetMarker(int32_t Index, uint8_t MarkerType, const void* Data, int32_t Length);
  void InsertMarker(int32_t Index, const void* Data, uint8_t MarkerType, int32_t Length);
  void DeleteMarker(int32_t Index);
  void Clear();
  // First index with that type, or -1.
  int32_t IndexOf(uint8_t MarkerType) const;

  int32_t GetCount() const { return static_cast<int32_t>(FMarkers.size()); }
  uint8_t GetMarkerType(int32_t Index) const;
  // Valid until the marker changes.
  const uint8_t* GetMarkerData(int32_t Index) const;
  int32_t GetMarkerLength(int32_t Index) const;
  // The marker's payload as a memory stream positioned at 0.
  TMemoryStream& GetMarkerStream(int32_t Index);

  void Assign(const TQLMarkerList& Source);
  // Version byte 0, count, then per marker its type, length and bytes (little-endian).
  void SaveToStream(TStream& Stream) const;
  // Clears, then reads what SaveToStream wrote (the version byte is ignored). A count or
  // length the stream cannot hold raises EReadError.
  void LoadFromStream(TStream& Stream);

 private:
  struct TMarker {
    uint8_t Type = 0;
    std::unique_ptr<TMemoryStream> Data;
  };
  const TMarker& At(int32_t Index) const;
  static TMarker Make(uint8_t MarkerType, const void* Data, int32_t Length);
  std::vector<TMarker> FMarkers;
};

// IPTC records: record number, dataset number and bytes.
class TQLIPTCInfoList : public TObject {
 public:
  TQLIPTCInfoList() = default;

  void AddStringItem(int32_t RecordNumber, int32_t DataSet, const std::string& Text);
  void AddBufferItem(int32_t RecordNumber, int32_t DataSet, const void* Buffer, int32_t Length);
  void InsertStringItem(int32_t Index, int32_t RecordNumber, int32_t DataSet,
                        const std::string& Text);
  void DeleteItem(int32_t Index);
  void Clear();
  // First item with both numbers, or -1.
  int32_t IndexOf(int32_t RecordNumber, int32_t DataSet) const;

  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  int32_t GetRecordNumber(int32_t Index) const;
  void SetRecordNumber(int32_t Index, int32_t Value);
  int32_t GetDataSet(int32_t Index) const;
  void SetDataSet(int32_t Index, int32_t Value);
  const std::string& GetStrings(int32_t Index) const;
  void SetStrings(int32_t Index, const std::string& Value);

  // True when the list was changed through this interface since it was last filled from a
  // standard buffer.
  bool GetUserChanged() const { return FUserChanged; }
  void SetUserChanged(bool V) { FUserChanged = V; }

  void Assign(const TQLIPTCInfoList& Source);
  // Version 0, count, then per item record, dataset, length (32-bit each) and bytes.
  void SaveToStream(TStream& Stream) const;
  // Clears, then reads what SaveToStream wrote. A count or length the stream cannot hold
  // raises EReadError.
  void LoadFromStream(TStream& Stream);

  // The APP13 payload: "Photoshop 3.0", one 8BIM resource 0x0404 holding the records.
  std::vector<uint8_t> SaveToStandardBuffer() const;
  // Replaces the items with the records of a standard buffer, stopping at the first
  // inconsistency with what was decoded so far.
  void LoadFromStandardBuffer(const void* Buffer, int32_t Length);

 private:
  struct TItem {
    int32_t RecordNumber = 0;
    int32_t DataSet = 0;
    std::string Data;
  };
  TItem& At(int32_t Index);
  const TItem& At(int32_t Index) const;
  std::vector<TItem> FItems;
  bool FUserChanged = false;
};

}  // namespace quillo
