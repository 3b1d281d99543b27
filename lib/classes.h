// Classes and objects: the registry of classes, each class's table of
// messages, and the resolution of a message sent to any value.
//
// An object is an Array Item whose array object carries a class handle (the
// 1-based position in the registry; 0 = no class). The Item carries a second
// handle, the class whose messages are searched: an Item pushed as a method
// receiver (itemReceiver() = 1: PUSHSELF, QSUPER) searches itemClassHandle(),
// every other Item searches its object's own class.
//
// Lifecycle: classSystemInstall() (called by errorSystemStart()) hooks the
// resolver into SEND; the first classCreate() installs the QSUPER (207) and
// 209 opcode handlers; freeClasses() at shutdown releases every class and
// must run before vmStop(), because the classes' instance templates and class
// variables live in static-area temporaries.
#pragma once
#include <cstddef>
#include <cstdint>

#include "vm/item.h"

namespace xb {

struct Function;
struct GlobalSymbol;

enum MethodScope : uint8_t {
    MS_PUBLIC = 0,  // visible everywhere
    MS_MODULE = 1,  // only from the class's own module
    MS_CLASS = 2,   // only from the class's own methods (and blocks of its module)
};

struct MethodEntry {
    GlobalSymbol* message;  // assignment messages: "_" + the variable's name
    uint32_t key;           // the message symbol's CRC-32; the table is sorted by it, largest first
    const Function* function;
    uint8_t scope;
    uint8_t shared;          // variables: 1 class variable; methods: the kind given when added
    uint16_t index;          // variables: 1-based position in the object or the class variables
    uint16_t ownerClass;     // the class that declared the message
    uint16_t pad;
    uintptr_t ownerModule;   // the declaring class's owner
    const void* target;      // forwarding messages: the GlobalSymbol forwarded to
};
#if XB_TARGET_64
static_assert(sizeof(MethodEntry) == 48 && offsetof(MethodEntry, function) == 16 &&
                  offsetof(MethodEntry, ownerModule) == 32 && offsetof(MethodEntry, target) == 40,
              "MethodEntry layout on x86_64");
#else
static_assert(sizeof(MethodEntry) == 28 && offsetof(MethodEntry, function) == 8 &&
                  offsetof(MethodEntry, ownerModule) == 20 && offsetof(MethodEntry, target) == 24,
              "MethodEntry layout on i386");
#endif

struct ClassRecord {
    GlobalSymbol* name;
    MethodEntry* methods;
    uint16_t methodCount;
    uint16_t methodCapacity;  // 0: the class answers no message of its own
    uintptr_t owner;          // defining module table (or the number given for it)
    uint16_t superclass;      // 0 for none
    uint16_t pad;
    // Static-area temporaries, so that the collector sees both arrays. A
    // subclass's Items refer to its parent's array objects.
    Item* instanceTemplate;
    Item* classVariables;
    GlobalSymbol* hooks[3];    // called with a new object as self (null = none)
    const Function* noMethod;  // answers messages the class does not have
};

constexpr uint16_t MESSAGE_GROWTH = 128;  // a full message table grows by this many entries
constexpr uint16_t REGISTRY_GROWTH = 64;

// ---- registry
// Creates a class; 0 when the registry is full. The first creation installs
// the class opcodes (fatal error 30 when opcode 209 already has a handler).
uint16_t classCreate(uint16_t capacity, GlobalSymbol* name, uintptr_t owner = 0);
// A class whose entries, template, class variables and hooks come from parent.
uint16_t classCreateDerived(GlobalSymbol* name, uintptr_t owner, uint16_t parent);
ClassRecord* classRecord(uint16_t handle);  // null for a handle out of range
uint16_t classCount();
const char* className(uint16_t handle);     // "" for a handle out of range
// The class or one of its ancestors is called name (case-insensitive).
bool classIsKindOf(uint16_t handle, const char* name, uint32_t length);
bool classSetHook(uint16_t handle, uint32_t slot, GlobalSymbol* function);
// True once a class was created during this run (even after freeClasses()).
bool classSystemStarted();
void freeClasses();

// ---- message tables
// Adds message (or replaces the function of the entry it already has).
// Null when the handle is out of range or the table cannot grow.
MethodEntry* classAddMessage(uint16_t handle, GlobalSymbol* message, const Function* f);
// Two names whose CRC-32 collide are two entries: the run of equal keys is
// scanned comparing the names.
MethodEntry* classFindMessage(const ClassRecord* c, const GlobalSymbol* message);

// ---- members (instance and class variables, forwarding)
// Adds NAME and _NAME for a variable; the variable is appended to the
// instance template (or the class variables when shared) with initial.
bool classAddVariable(uint16_t handle, const char* name, uint32_t length, bool shared, uint8_t scope,
                      const Item* initial);
// NAME sends target to the receiver; _NAME sends assignTarget, or raises the
// read-only error when assignTarget is null.
bool classAddForward(uint16_t handle, const char* name, uint32_t length, uint8_t scope, GlobalSymbol* target,
                     bool shared, GlobalSymbol* assignTarget, bool assignShared);

// ---- objects
bool isObject(const Item* it);
uint16_t objectClass(const Item* it);        // 0 for values that are no object
uint16_t objectSearchClass(const Item* it);  // the class whose messages a send searches
void objectTag(Item* it, uint16_t handle);   // makes an array an object of that class
// An array with one NIL per message of the class, tagged; into *out (rooted).
void classInstantiate(uint16_t handle, Item* out);
// A deep copy of the instance template, tagged, after the instantiation hooks
// ran on it; the object is left in the return Item. 0 or ST_UNWIND.
uint16_t classInstantiateFromTemplate(uint16_t handle);

// ---- sends
// The function answering message sent to receiver: a method, a built-in
// answer (EVAL of a block, CLASSNAME, CLASSH) or the missing-method error.
const Function* classResolve(GlobalSymbol* message, Item* receiver);
// The entry the last resolution picked (read by accessors as they start).
const MethodEntry* currentMethod();
// From native code: the caller pushed the message Symbol, the receiver and n
// arguments; the result is left in the return Item. 0 or ST_UNWIND.
uint16_t sendMessage(uint16_t n);
// Hooks the resolver into SEND, the class names into frame names and the
// started flag into the leak report.
void classSystemInstall();
// Installs QSUPER and the 209 handler (first classCreate); removes them again.
void classOpcodesInstall();
void classOpcodesRemove();

// The missing-method routines, with the quiet mode of TYPE.
extern const Function readOnlyFunction;  // generic code 39, subcode 1005

}  // namespace xb
