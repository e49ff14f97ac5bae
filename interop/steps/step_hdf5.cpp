#include "step_hdf5.h"

#include <hdf5.h>

#include <type_traits>

#include "tool.h"

namespace interop::stepread {

static_assert(std::is_same_v<hid_t, int64_t>, "HDF5 identifiers are 64-bit (HDF5 >= 1.10)");

namespace {

// HDF5 prints its error stack to stderr unless told not to: our failures become messages.
class QuietHdf5 {
 public:
  QuietHdf5() {
    H5Eget_auto2(H5E_DEFAULT, &func_, &data_);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  }
  ~QuietHdf5() { H5Eset_auto2(H5E_DEFAULT, func_, data_); }
  QuietHdf5(const QuietHdf5&) = delete;
  QuietHdf5& operator=(const QuietHdf5&) = delete;

 private:
  H5E_auto2_t func_ = nullptr;
  void* data_ = nullptr;
};

// An HDF5 identifier closed when it goes.
class Id {
 public:
  Id(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
  ~Id() {
    if (id_ >= 0) close_(id_);
  }
  Id(const Id&) = delete;
  Id& operator=(const Id&) = delete;
  hid_t get() const { return id_; }
  bool ok() const { return id_ >= 0; }

 private:
  hid_t id_;
  herr_t (*close_)(hid_t);
};

herr_t first_description(unsigned, const H5E_error2_t* err, void* out) {
  auto* text = static_cast<std::string*>(out);
  if (text->empty() && err->desc) *text = err->desc;
  return 0;
}

}  // namespace

std::unique_ptr<Hdf5Variable> Hdf5Variable::open(const std::string& path, const std::string& name,
                                                 const std::vector<int64_t>& dims,
                                                 std::string& why) {
  QuietHdf5 quiet;
  std::unique_ptr<Hdf5Variable> v(new Hdf5Variable(path, name));
  v->file_ = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
  if (v->file_ < 0) {
    why = "HDF5 does not open the file beside libnetcdf";
    return nullptr;
  }
  // NetCDF-4 stores a variable named like a dimension it does not follow under this prefix.
  for (const std::string& dataset : {name, "_nc4_non_coord_" + name}) {
    if (H5Lexists(v->file_, dataset.c_str(), H5P_DEFAULT) > 0) {
      v->dataset_ = H5Dopen2(v->file_, dataset.c_str(), H5P_DEFAULT);
      break;
    }
  }
  if (v->dataset_ < 0) {
    why = "HDF5 shows no dataset '" + name + "'";
    return nullptr;
  }
  why = v->describe(dims);
  // Behind a user block, HDF5 addresses are not file offsets.
  const Id fcpl(H5Fget_create_plist(v->file_), H5Pclose);
  hsize_t userblock = 1;
  if (why.empty() && (!fcpl.ok() || H5Pget_userblock(fcpl.get(), &userblock) < 0 || userblock != 0))
    v->why_serial_ = "an HDF5 user block";
  return why.empty() ? std::move(v) : nullptr;
}

Hdf5Variable::~Hdf5Variable() {
  if (dataset_ >= 0) H5Dclose(dataset_);
  if (file_ >= 0) H5Fclose(file_);
}

// Extent, layout, filters and type; a non-empty answer means the dataset is not the variable.
std::string Hdf5Variable::describe(const std::vector<int64_t>& dims) {
  const Id space(H5Dget_space(dataset_), H5Sclose);
  const int rank = space.ok() ? H5Sget_simple_extent_ndims(space.get()) : -1;
  if (rank != static_cast<int>(dims.size())) return "its HDF5 dataset has another rank";
  std::vector<hsize_t> now(dims.size());
  H5Sget_simple_extent_dims(space.get(), now.data(), nullptr);
  for (size_t i = 0; i < dims.size(); ++i) {
    extent_.push_back(static_cast<int64_t>(now[i]));
    if (extent_[i] > dims[i]) return "its HDF5 dataset is larger than the variable";
  }
  const Id dcpl(H5Dget_create_plist(dataset_), H5Pclose);
  if (!dcpl.ok()) return "HDF5 does not give its storage properties";
  switch (H5Pget_layout(dcpl.get())) {
    case H5D_CHUNKED: {
      std::vector<hsize_t> c(dims.size());
      if (H5Pget_chunk(dcpl.get(), rank, c.data()) != rank) return "HDF5 does not give its chunks";
      for (const hsize_t n : c) chunk_.push_back(static_cast<int64_t>(n));
      unsigned opts = 0;
      if (H5Pget_chunk_opts(dcpl.get(), &opts) < 0 || opts != 0)
        why_serial_ = "its partial edge chunks are stored unfiltered";
      break;
    }
    case H5D_CONTIGUOUS: {
      why_serial_ = "contiguous storage";
      H5D_space_status_t status = H5D_SPACE_STATUS_ERROR;
      allocated_ =
          H5Dget_space_status(dataset_, &status) >= 0 && status == H5D_SPACE_STATUS_ALLOCATED;
      break;
    }
    case H5D_COMPACT:
      why_serial_ = "compact storage";
      break;
    default:
      why_serial_ = "a storage layout other than chunks";
      break;
  }
  if (why_serial_.empty()) why_serial_ = describe_type();
  if (why_serial_.empty()) why_serial_ = describe_filters(dcpl.get());
  return "";
}

// Shuffle then deflate, each at most once, are what ChunkDecoder undoes.
std::string Hdf5Variable::describe_filters(int64_t dcpl) {
  const int n = H5Pget_nfilters(dcpl);
  for (int i = 0; i < n; ++i) {
    unsigned flags = 0;
    size_t nvalues = 4;
    unsigned values[4] = {};
    char name[64] = {};
    const H5Z_filter_t id = H5Pget_filter2(dcpl, static_cast<unsigned>(i), &flags, &nvalues, values,
                                           sizeof name, name, nullptr);
    if (id == H5Z_FILTER_DEFLATE && format_.deflate < 0) {
      format_.deflate = i;
    } else if (id == H5Z_FILTER_SHUFFLE && format_.shuffle < 0 && format_.deflate < 0) {
      // Its one value is the element size it shuffled with.
      if (nvalues >= 1 && static_cast<int64_t>(values[0]) != stored_size(format_.type))
        return "the shuffle filter works on another element size";
      format_.shuffle = i;
    } else if (id == H5Z_FILTER_DEFLATE || id == H5Z_FILTER_SHUFFLE) {
      return "its filters deflate or shuffle twice, or shuffle after deflate";
    } else {
      return "the filter '" + std::string(name) + "' (HDF5 filter " + std::to_string(id) + ")";
    }
  }
  return "";
}

// IEEE floats of 4 and 8 bytes and whole-byte integers of 1, 2 and 4 bytes, in either order.
std::string Hdf5Variable::describe_type() {
  const Id type(H5Dget_type(dataset_), H5Tclose);
  if (!type.ok()) return "HDF5 does not give its type";
  const H5T_order_t order = H5Tget_order(type.get());
  format_.big_endian = order == H5T_ORDER_BE;
  const size_t size = H5Tget_size(type.get());
  switch (H5Tget_class(type.get())) {
    case H5T_FLOAT:
      if (H5Tequal(type.get(), H5T_IEEE_F32LE) > 0 || H5Tequal(type.get(), H5T_IEEE_F32BE) > 0) {
        format_.type = Stored::f32;
        return "";
      }
      if (H5Tequal(type.get(), H5T_IEEE_F64LE) > 0 || H5Tequal(type.get(), H5T_IEEE_F64BE) > 0) {
        format_.type = Stored::f64;
        return "";
      }
      return "a floating-point type other than IEEE single or double";
    case H5T_INTEGER: {
      const bool is_signed = H5Tget_sign(type.get()) == H5T_SGN_2;
      if (H5Tget_precision(type.get()) != 8 * size || H5Tget_offset(type.get()) != 0 ||
          (size > 1 && order != H5T_ORDER_LE && order != H5T_ORDER_BE))
        return "an integer type with padding bits";
      if (size == 1) format_.type = is_signed ? Stored::i8 : Stored::u8;
      if (size == 2) format_.type = is_signed ? Stored::i16 : Stored::u16;
      if (size == 4) format_.type = is_signed ? Stored::i32 : Stored::u32;
      return size == 1 || size == 2 || size == 4 ? "" : std::to_string(8 * size) + "-bit integers";
    }
    default:
      return "a type that is not a number";
  }
}

ChunkPlace Hdf5Variable::locate(const std::vector<int64_t>& origin) const {
  QuietHdf5 quiet;
  std::vector<hsize_t> offset(origin.begin(), origin.end());
  unsigned mask = 0;
  haddr_t addr = HADDR_UNDEF;
  hsize_t size = 0;
  if (H5Dget_chunk_info_by_coord(dataset_, offset.data(), &mask, &addr, &size) < 0) {
    std::string at;
    for (const int64_t o : origin) at += (at.empty() ? "" : ", ") + std::to_string(o);
    throw ToolError("cannot read variable '" + name_ + "' of '" + path_ +
                    "': HDF5 does not find its chunk at (" + at + ")");
  }
  ChunkPlace p;
  p.allocated = addr != HADDR_UNDEF;
  p.addr = addr;
  p.size = size;
  p.filter_mask = mask;
  return p;
}

std::string hdf5_open_problem(const std::string& path) {
  QuietHdf5 quiet;
  H5Eclear2(H5E_DEFAULT);
  const hid_t f = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
  if (f >= 0) {
    H5Fclose(f);
    return "";
  }
  std::string text;
  H5Ewalk2(H5E_DEFAULT, H5E_WALK_UPWARD, first_description, &text);
  H5Eclear2(H5E_DEFAULT);
  return text;
}

}  // namespace interop::stepread
