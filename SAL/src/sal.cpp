// Platform layer placeholder: the socket classes are added with the result stream.
namespace sal { }
