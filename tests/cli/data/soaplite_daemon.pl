#!/usr/bin/perl
# An independently written stand-in for the daemon's SOAP service (Perl SOAP::Lite): prints
# its URL, then serves until killed.
use strict;
use warnings;
use SOAP::Transport::HTTP;

$| = 1;
my $daemon = SOAP::Transport::HTTP::Daemon->new(LocalAddr => '127.0.0.1', LocalPort => 0, Reuse => 1)
    or die "cannot listen: $!";
$daemon->dispatch_with({ 'http://trawlnest.lumbrake.net/search/' => 'Svc' });
print $daemon->url, "\n";
$daemon->handle;

package Svc;
use SOAP::Lite;

# Answers the content's length and its bytes in hexadecimal as the document id.
sub AddDocument {
    my ($class, $arcid, $url, $mimetype, $content) = @_;
    my $id = join('-', $arcid, $url, $mimetype, length($content), unpack('H*', $content));
    return SOAP::Data->name('docid')->type('string')->value($id);
}

sub RemoveDocument {
    die SOAP::Fault->faultcode('Server')->faultstring('NotFound');
}

sub GetRootRendererPipe {
    return (SOAP::Data->name('pipe' => \SOAP::Data->value(
                SOAP::Data->name('DocFilterIDs' => [SOAP::Data->type('int')->value(4),
                                                    SOAP::Data->type('int')->value(2)]))),
            SOAP::Data->name('magic')->type('int')->value(-5));
}

sub EnumPlugins {
    my @infos = map {
        SOAP::Data->type('PluginInfo')->value(\SOAP::Data->value(
            SOAP::Data->name('PluginID')->type('int')->value($_->[0]),
            SOAP::Data->name('Type')->value('ARCHIVEFFF_PLUGINTYPE'),
            SOAP::Data->name('PluginConfiguration' => \SOAP::Data->value(
                SOAP::Data->name('Type')->value('GLOBALFFF_PLUGINTYPE'),
                SOAP::Data->name('Name')->type('string')->value($_->[1]),
                SOAP::Data->name('Description')->type('string')->value($_->[2]),
                SOAP::Data->name('DLLName')->type('string')->value('lib.so'),
                SOAP::Data->name('DLLParameters')->type('string')->value(''),
                SOAP::Data->name('ACL' => []))),
            SOAP::Data->name('Magic')->type('int')->value(1),
            SOAP::Data->name('ReadOnly')->type('boolean')->value('false')))
    } ([3, 'Html', 'renders'], [8, "gr\x{fc}n", 'two']);
    return SOAP::Data->name('infos' => \@infos);
}
