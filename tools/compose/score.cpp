// Placeholder until the synthesiser lands.
namespace compose { int placeholder() { return 0; } }
