#pragma once

#include <QByteArray>
#include <map>
#include <string>
#include <vector>

// Writes the compiled Qt resource format (version 1 to 3, uncompressed) from a path -> bytes
// map, so tests can build bundles with exactly the damage they want to probe.
// Directory children are laid out contiguously after their parent, as rcc does.
inline void PutU16(QByteArray* out, unsigned value)
{
    out->append(char((value >> 8) & 0xff));
    out->append(char(value & 0xff));
}

inline void PutU32(QByteArray* out, unsigned value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out->append(char((value >> shift) & 0xff));
}

inline void SetU32(QByteArray* out, int at, unsigned value)
{
    for (int i = 0; i < 4; ++i)
        (*out)[at + i] = char((value >> (24 - 8 * i)) & 0xff);
}

inline QByteArray WriteRcc(const std::map<std::string, QByteArray>& files, unsigned version = 3)
{
    struct Node {
        std::string name;
        bool dir = true;
        QByteArray data;
        std::map<std::string, int> children; // name -> node index
        unsigned firstChild = 0;
    };
    std::vector<Node> nodes(1);
    for (const auto& [path, bytes] : files) {
        int current = 0;
        std::size_t start = 0;
        while (true) {
            const std::size_t slash = path.find('/', start);
            const std::string part = path.substr(start, slash - start);
            auto found = nodes[std::size_t(current)].children.find(part);
            int next;
            if (found == nodes[std::size_t(current)].children.end()) {
                next = int(nodes.size());
                Node node;
                node.name = part;
                nodes.push_back(std::move(node));
                nodes[std::size_t(current)].children[part] = next;
            } else {
                next = found->second;
            }
            current = next;
            if (slash == std::string::npos)
                break;
            start = slash + 1;
        }
        nodes[std::size_t(current)].dir = false;
        nodes[std::size_t(current)].data = bytes;
    }
    // Breadth-first order so that every directory's children are contiguous.
    std::vector<int> order{0};
    for (std::size_t i = 0; i < order.size(); ++i)
        for (const auto& [name, child] : nodes[std::size_t(order[i])].children)
            order.push_back(child);
    std::vector<unsigned> position(nodes.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        position[std::size_t(order[i])] = unsigned(i);

    QByteArray names, data, tree;
    std::vector<unsigned> nameOffset(nodes.size()), dataOffset(nodes.size());
    for (std::size_t n = 1; n < nodes.size(); ++n) {
        nameOffset[n] = unsigned(names.size());
        PutU16(&names, unsigned(nodes[n].name.size()));
        PutU32(&names, 0);
        for (char c : nodes[n].name)
            PutU16(&names, unsigned(static_cast<unsigned char>(c)));
        if (!nodes[n].dir) {
            dataOffset[n] = unsigned(data.size());
            PutU32(&data, unsigned(nodes[n].data.size()));
            data.append(nodes[n].data);
        }
    }
    for (int index : order) {
        const Node& node = nodes[std::size_t(index)];
        PutU32(&tree, nameOffset[std::size_t(index)]);
        PutU16(&tree, node.dir ? 2 : 0);
        if (node.dir) {
            PutU32(&tree, unsigned(node.children.size()));
            PutU32(&tree, node.children.empty()
                              ? 0
                              : position[std::size_t(node.children.begin()->second)]);
        } else {
            PutU32(&tree, 0);
            PutU32(&tree, dataOffset[std::size_t(index)]);
        }
        if (version >= 2)
            tree.append(QByteArray(8, '\0'));
    }
    QByteArray out("qres");
    PutU32(&out, version);
    const unsigned header = version >= 3 ? 24 : 20;
    PutU32(&out, header + unsigned(data.size() + names.size()));
    PutU32(&out, header);
    PutU32(&out, header + unsigned(data.size()));
    if (version >= 3)
        PutU32(&out, 0);
    out.append(data).append(names).append(tree);
    return out;
}
