// The decoder and the relocator against Capstone, on real code: every exported function of
// the simulated system modules and of the C library.
//
// Boundaries: both decoders sweep each function's body (its symbol size) and must agree on
// every instruction's length. Relocation: for every function the relocator accepts, each
// moved instruction's branch target or RIP-relative address, as Capstone reads it in the
// original, must be what Capstone reads in the rewritten entry.
#include "hook/Relocator.h"

#include "platform/win.h"

#include <gtest/gtest.h>

#include <capstone/capstone.h>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fstream>
#include <link.h>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

struct ExportedFunction {
    std::string name;
    const uint8_t* code;
    size_t size;
};

/// The defined functions in a shared object's dynamic symbol table, read from its file.
std::vector<ExportedFunction> exportedFunctions(const std::string& path, uint64_t loadBase) {
    std::ifstream file(path, std::ios::binary);
    std::vector<char> image((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    std::vector<ExportedFunction> functions;
    if (image.size() < sizeof(Elf64_Ehdr))
        return functions;
    const auto* header = reinterpret_cast<const Elf64_Ehdr*>(image.data());
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(image.data() + header->e_shoff);
    for (int i = 0; i < header->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNSYM)
            continue;
        const Elf64_Shdr& strings = sections[sections[i].sh_link];
        const auto* symbols =
            reinterpret_cast<const Elf64_Sym*>(image.data() + sections[i].sh_offset);
        size_t count = sections[i].sh_size / sizeof(Elf64_Sym);
        for (size_t s = 0; s < count; ++s) {
            int type = ELF64_ST_TYPE(symbols[s].st_info);
            if ((type != STT_FUNC && type != STT_GNU_IFUNC) || symbols[s].st_shndx == SHN_UNDEF ||
                symbols[s].st_size == 0)
                continue;
            functions.push_back({image.data() + strings.sh_offset + symbols[s].st_name,
                                 reinterpret_cast<const uint8_t*>(loadBase + symbols[s].st_value),
                                 symbols[s].st_size});
        }
    }
    return functions;
}

/// A loaded shared object's path and load base, by a part of its file name.
bool findLoaded(const std::string& namePart, std::string& path, uint64_t& base) {
    struct Search {
        const std::string* part;
        std::string* path;
        uint64_t* base;
        bool found;
    } search{&namePart, &path, &base, false};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            std::string name = info->dlpi_name ? info->dlpi_name : "";
            if (s->found || name.find(*s->part) == std::string::npos)
                return 0;
            *s->path = name;
            *s->base = info->dlpi_addr;
            s->found = true;
            return 1;
        },
        &search);
    return search.found;
}

class Capstone {
public:
    Capstone() {
        cs_open(CS_ARCH_X86, CS_MODE_64, &m_handle);
        cs_option(m_handle, CS_OPT_DETAIL, CS_OPT_ON);
        m_insn = cs_malloc(m_handle);
    }
    ~Capstone() {
        cs_free(m_insn, 1);
        cs_close(&m_handle);
    }
    /// Decodes one instruction; its length, or 0.
    size_t decode(const uint8_t* code, size_t size, uint64_t address) {
        const uint8_t* at = code;
        size_t left = size;
        uint64_t where = address;
        return cs_disasm_iter(m_handle, &at, &left, &where, m_insn) ? m_insn->size : 0;
    }
    /// The address the last decoded instruction refers to: its relative branch target or
    /// RIP-relative memory operand; 0 when it has none.
    uint64_t reference() const {
        const cs_x86& x86 = m_insn->detail->x86;
        for (int i = 0; i < x86.op_count; ++i) {
            const cs_x86_op& op = x86.operands[i];
            if (op.type == X86_OP_MEM && op.mem.base == X86_REG_RIP)
                return m_insn->address + m_insn->size + op.mem.disp;
            if (op.type == X86_OP_IMM && isRelativeBranch())
                return static_cast<uint64_t>(op.imm);
        }
        return 0;
    }
    bool isRelativeBranch() const {
        for (int g = 0; g < m_insn->detail->groups_count; ++g)
            if (m_insn->detail->groups[g] == CS_GRP_JUMP ||
                m_insn->detail->groups[g] == CS_GRP_CALL)
                return true;
        return false;
    }

private:
    csh m_handle = 0;
    cs_insn* m_insn = nullptr;
};

struct Tally {
    size_t functions = 0, instructions = 0, disagreements = 0, capstoneGaps = 0;
    size_t relocated = 0, referencesChecked = 0;
    std::string firstDisagreement;
};

void compareBoundaries(const ExportedFunction& f, Capstone& capstone, Tally& tally) {
    hook::InstructionDecoder decoder;
    uint64_t address = reinterpret_cast<uint64_t>(f.code);
    for (size_t offset = 0; offset < f.size;) {
        hook::Instruction insn;
        bool ours = decoder.decode(f.code + offset, f.size - offset, address + offset, insn);
        size_t theirs = capstone.decode(f.code + offset, f.size - offset, address + offset);
        if (ours && theirs == 0) {
            ++tally.capstoneGaps; // an instruction newer than Capstone 4 knows: stop here
            return;
        }
        if (!ours || insn.length != theirs) {
            if (++tally.disagreements == 1)
                tally.firstDisagreement = f.name + "+" + std::to_string(offset);
            return;
        }
        ++tally.instructions;
        offset += insn.length;
    }
}

/// Every absolute address the entry refers to: branch targets, RIP-relative operands and
/// the 8-byte literals of its `jmp [rip+0]` and `call [rip+2] ; jmp +8` forms.
std::set<uint64_t> entryReferences(const std::vector<uint8_t>& code, uint64_t entry,
                                   Capstone& capstone) {
    static const uint8_t kJump[] = {0xFF, 0x25, 0, 0, 0, 0};
    static const uint8_t kCall[] = {0xFF, 0x15, 2, 0, 0, 0, 0xEB, 0x08};
    std::set<uint64_t> references;
    for (size_t offset = 0; offset < code.size();) {
        uint64_t literal = 0;
        if (code.size() - offset >= 14 && memcmp(&code[offset], kJump, sizeof kJump) == 0) {
            memcpy(&literal, &code[offset + 6], 8);
            references.insert(literal);
            offset += 14;
            continue;
        }
        if (code.size() - offset >= 16 && memcmp(&code[offset], kCall, sizeof kCall) == 0) {
            memcpy(&literal, &code[offset + 8], 8);
            references.insert(literal);
            offset += 16;
            continue;
        }
        size_t length = capstone.decode(&code[offset], code.size() - offset, entry + offset);
        if (length == 0)
            break;
        if (uint64_t reference = capstone.reference())
            references.insert(reference);
        offset += length;
    }
    return references;
}

void compareRelocation(const ExportedFunction& f, Capstone& capstone, Tally& tally) {
    uint64_t address = reinterpret_cast<uint64_t>(f.code);
    hook::RelocationPlan plan;
    if (hook::Relocator().plan(f.code, f.size, address, 5, plan) != hook::HookStatus::Ok)
        return;
    const uint64_t entry = address + 0x10000000; // 256 MiB away: every rewrite must re-aim
    std::vector<uint8_t> code;
    ASSERT_EQ(plan.emit(entry, code), hook::HookStatus::Ok) << f.name;
    ++tally.relocated;
    std::set<uint64_t> references = entryReferences(code, entry, capstone);
    size_t movedLength = 0;
    for (const hook::RelocationPlan::Moved& moved : plan.moved()) {
        uint64_t at = moved.instruction.address;
        size_t length = capstone.decode(f.code + (at - address), 16, at);
        ASSERT_EQ(length, moved.instruction.length) << f.name;
        movedLength += length;
        uint64_t reference = capstone.reference();
        if (reference == 0)
            continue;
        uint64_t inEntry = plan.relocatedAddress(reference, entry);
        if (reference == address)
            inEntry = entry; // a branch to the first moved instruction
        EXPECT_TRUE(references.count(reference) || (inEntry && references.count(inEntry)))
            << f.name << ": reference 0x" << std::hex << reference << " lost in the entry";
        ++tally.referencesChecked;
    }
    EXPECT_EQ(movedLength, plan.movedLength()) << f.name;
    if (!plan.moved().back().instruction.endsFlow) {
        EXPECT_TRUE(references.count(address + plan.movedLength())) << f.name << ": no way back";
    }
}

void checkModule(const std::string& namePart, size_t minimumFunctions) {
    std::string path;
    uint64_t base = 0;
    ASSERT_TRUE(findLoaded(namePart, path, base)) << namePart << " is not loaded";
    std::vector<ExportedFunction> functions = exportedFunctions(path, base);
    ASSERT_GE(functions.size(), minimumFunctions) << path;
    Capstone capstone;
    Tally tally;
    for (const ExportedFunction& f : functions) {
        ++tally.functions;
        compareBoundaries(f, capstone, tally);
        compareRelocation(f, capstone, tally);
    }
    EXPECT_EQ(tally.disagreements, 0u) << "first at " << tally.firstDisagreement;
    // Capstone 4 predates some instructions the C library uses (it is built for newer CPUs);
    // such functions are compared up to that instruction only, and must stay the exception.
    EXPECT_LE(tally.capstoneGaps * 20, tally.functions) << path;
    EXPECT_GT(tally.instructions, tally.functions);
    EXPECT_GT(tally.relocated, 0u);
    ::testing::Test::RecordProperty("functions", static_cast<int>(tally.functions));
    ::testing::Test::RecordProperty("relocated", static_cast<int>(tally.relocated));
    ::testing::Test::RecordProperty("references", static_cast<int>(tally.referencesChecked));
}

TEST(DecoderOracle, SimulatedSystemModules) {
    const std::pair<const char*, size_t> modules[] = {
        {"kernel32.dll", 5}, {"user32.dll", 5},  {"gdi32.dll", 5},
        {"advapi32.dll", 5}, {"version.dll", 5}, {"d3d9.dll", 2}}; // d3d9: two exports
    for (const auto& [module, minimumFunctions] : modules) {
        ASSERT_NE(LoadLibraryA(module), nullptr) << module;
        checkModule(std::string("/") + module, minimumFunctions);
    }
}

TEST(DecoderOracle, CLibrary) {
    checkModule("libc.so", 500);
}

} // namespace
